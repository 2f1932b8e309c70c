#pragma once
// Lane types of the grouped message kernels (segment/lbp_group_kernel.inc): lane i of every
// register computes node i of a group of nodes of equal degree. One type per vector unit, each
// compiled for its instruction set and chosen at run time (lbp_group_width). Only independent
// outputs share an instruction; every lane does exactly the operations of the one-node code.
//
// The lattice kernels (segment/lattice_lbp_kernel.inc) read and write W neighbouring entries of
// a row of values at once, or only those of the lanes whose bit of `lanes` is set: load, store,
// storeLanes; loadOrOne and gatherOrOne (entries index[i] of a row) give 1.0 in the other lanes,
// loadOrKeep keeps their value of v, and none of these touches memory for them.
#if defined(__x86_64__)
#include <immintrin.h>
#endif

// One node at a time: the lattice kernels' route where no vector unit serves.
struct LanesScalar {
  static constexpr int W = 1;
  using V = double;
  static V one() { return 1.0; }
  static V zero() { return 0.0; }
  static V broadcast(double x) { return x; }
  static V mul(V a, V b) { return a * b; }
  static V add(V a, V b) { return a + b; }
  static V div(V a, V b) { return a / b; }
  static V load(const double *p) { return *p; }
  static void store(double *p, V v) { *p = v; }
  static void storeLanes(double *p, V v, unsigned lanes) {
    if (lanes & 1u)
      *p = v;
  }
  static V loadOrOne(const double *p, unsigned lanes) { return (lanes & 1u) ? *p : 1.0; }
  static V loadOrKeep(V v, const double *p, unsigned lanes) { return (lanes & 1u) ? *p : v; }
  static V gatherOrOne(const double *row, const int *index, unsigned lanes) {
    return (lanes & 1u) ? row[index[0]] : 1.0;
  }
};

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TORVA_LANES 1
// Degree up to which nodes are updated in groups; larger degrees (possible only in a
// neighbourhood read from a file) take the one-node kernel.
constexpr int kGroupedDegree = 16;

struct LanesSse2 {
  static constexpr int W = 2;
  using V = __m128d;
  static V one() { return _mm_set1_pd(1.0); }
  static V zero() { return _mm_setzero_pd(); }
  static V broadcast(double x) { return _mm_set1_pd(x); }
  static V mul(V a, V b) { return _mm_mul_pd(a, b); }
  static V add(V a, V b) { return _mm_add_pd(a, b); }
  static V div(V a, V b) { return _mm_div_pd(a, b); }
  static V gather(const double *const *p, int s) { return _mm_set_pd(p[1][s], p[0][s]); }
  static void scatter(V v, double *const *to, int s) {
    _mm_storel_pd(to[0] + s, v);
    _mm_storeh_pd(to[1] + s, v);
  }
  // Labels s and s+1 of every lane: one load or store per lane and a transpose in registers.
  static void gatherPair(V &a, V &b, const double *const *p, int s) {
    const V p0 = _mm_loadu_pd(p[0] + s);
    const V p1 = _mm_loadu_pd(p[1] + s);
    a = _mm_unpacklo_pd(p0, p1);
    b = _mm_unpackhi_pd(p0, p1);
  }
  static void scatterPair(V a, V b, double *const *to, int s) {
    _mm_storeu_pd(to[0] + s, _mm_unpacklo_pd(a, b));
    _mm_storeu_pd(to[1] + s, _mm_unpackhi_pd(a, b));
  }
  static V load(const double *p) { return _mm_loadu_pd(p); }
  static void store(double *p, V v) { _mm_storeu_pd(p, v); }
  static void storeLanes(double *p, V v, unsigned lanes) {
    if (lanes & 1u)
      _mm_storel_pd(p, v);
    if (lanes & 2u)
      _mm_storeh_pd(p + 1, v);
  }
  static V loadOrKeep(V v, const double *p, unsigned lanes) {
    if (lanes == 3u)
      return _mm_loadu_pd(p);
    alignas(16) double kept[2];
    _mm_store_pd(kept, v);
    return _mm_set_pd((lanes & 2u) ? p[1] : kept[1], (lanes & 1u) ? p[0] : kept[0]);
  }
  static V loadOrOne(const double *p, unsigned lanes) { return loadOrKeep(one(), p, lanes); }
  static V gatherOrOne(const double *row, const int *index, unsigned lanes) {
    return _mm_set_pd((lanes & 2u) ? row[index[1]] : 1.0, (lanes & 1u) ? row[index[0]] : 1.0);
  }
};

#if !defined(__clang__)
#define TORVA_AVX_LANES 1
// The same kernel for four nodes at a time, compiled for AVX and chosen at run time when the
// processor has it. AVX brings no fused multiply-add, so every product and sum stays separate.
#pragma GCC push_options
#pragma GCC target("avx")
struct LanesAvx {
  static constexpr int W = 4;
  using V = __m256d;
  static V one() { return _mm256_set1_pd(1.0); }
  static V zero() { return _mm256_setzero_pd(); }
  static V broadcast(double x) { return _mm256_set1_pd(x); }
  static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
  static V add(V a, V b) { return _mm256_add_pd(a, b); }
  static V div(V a, V b) { return _mm256_div_pd(a, b); }
  static V gather(const double *const *p, int s) {
    return _mm256_set_pd(p[3][s], p[2][s], p[1][s], p[0][s]);
  }
  static void scatter(V v, double *const *to, int s) {
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, v);
    for (int i = 0; i < 4; ++i)
      to[i][s] = lanes[i];
  }
  // u holds lanes 0 and 2, v lanes 1 and 3, each lane's labels s and s+1 side by side.
  static void gatherPair(V &a, V &b, const double *const *p, int s) {
    const V u = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(p[0] + s)),
                                     _mm_loadu_pd(p[2] + s), 1);
    const V v = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(p[1] + s)),
                                     _mm_loadu_pd(p[3] + s), 1);
    a = _mm256_unpacklo_pd(u, v);
    b = _mm256_unpackhi_pd(u, v);
  }
  static void scatterPair(V a, V b, double *const *to, int s) {
    const V u = _mm256_unpacklo_pd(a, b);
    const V v = _mm256_unpackhi_pd(a, b);
    _mm_storeu_pd(to[0] + s, _mm256_castpd256_pd128(u));
    _mm_storeu_pd(to[1] + s, _mm256_castpd256_pd128(v));
    _mm_storeu_pd(to[2] + s, _mm256_extractf128_pd(u, 1));
    _mm_storeu_pd(to[3] + s, _mm256_extractf128_pd(v, 1));
  }
  static V load(const double *p) { return _mm256_loadu_pd(p); }
  static void store(double *p, V v) { _mm256_storeu_pd(p, v); }
  static __m256i chosen(unsigned lanes) {
    return _mm256_set_epi64x(
        -static_cast<long long>((lanes >> 3) & 1u), -static_cast<long long>((lanes >> 2) & 1u),
        -static_cast<long long>((lanes >> 1) & 1u), -static_cast<long long>(lanes & 1u));
  }
  static void storeLanes(double *p, V v, unsigned lanes) {
    _mm256_maskstore_pd(p, chosen(lanes), v);
  }
  static V loadOrKeep(V v, const double *p, unsigned lanes) {
    const __m256i mask = chosen(lanes);
    return _mm256_blendv_pd(v, _mm256_maskload_pd(p, mask), _mm256_castsi256_pd(mask));
  }
  static V loadOrOne(const double *p, unsigned lanes) { return loadOrKeep(one(), p, lanes); }
  static V gatherOrOne(const double *row, const int *index, unsigned lanes) {
    return _mm256_set_pd((lanes & 8u) ? row[index[3]] : 1.0, (lanes & 4u) ? row[index[2]] : 1.0,
                         (lanes & 2u) ? row[index[1]] : 1.0, (lanes & 1u) ? row[index[0]] : 1.0);
  }
};

#pragma GCC pop_options

#define TORVA_AVX512_LANES 1
// Eight nodes at a time with AVX-512, chosen at run time like AVX. The fused multiply-add it
// brings is never formed: the build keeps every product and sum apart (-ffp-contract=off).
#pragma GCC push_options
#pragma GCC target("avx512f")
// GCC 12's AVX-512 shuffle intrinsics start from an "undefined" register that its own
// uninitialised-use check then reports; the values are fully overwritten.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
struct LanesAvx512 {
  static constexpr int W = 8;
  using V = __m512d;
  static V one() { return _mm512_set1_pd(1.0); }
  static V zero() { return _mm512_setzero_pd(); }
  static V broadcast(double x) { return _mm512_set1_pd(x); }
  static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
  static V add(V a, V b) { return _mm512_add_pd(a, b); }
  static V div(V a, V b) { return _mm512_div_pd(a, b); }
  static V gather(const double *const *p, int s) {
    return _mm512_set_pd(p[7][s], p[6][s], p[5][s], p[4][s], p[3][s], p[2][s], p[1][s], p[0][s]);
  }
  static void scatter(V v, double *const *to, int s) {
    alignas(64) double lanes[8];
    _mm512_store_pd(lanes, v);
    for (int i = 0; i < 8; ++i)
      to[i][s] = lanes[i];
  }
  // u holds the even lanes, v the odd ones, each lane's labels s and s+1 side by side.
  static V pairsOf(const double *const *p, int first, int s) {
    const __m256d low = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(p[first] + s)),
                                             _mm_loadu_pd(p[first + 2] + s), 1);
    const __m256d high = _mm256_insertf128_pd(
        _mm256_castpd128_pd256(_mm_loadu_pd(p[first + 4] + s)), _mm_loadu_pd(p[first + 6] + s), 1);
    return _mm512_insertf64x4(_mm512_castpd256_pd512(low), high, 1);
  }
  static void gatherPair(V &a, V &b, const double *const *p, int s) {
    const V u = pairsOf(p, 0, s);
    const V v = pairsOf(p, 1, s);
    a = _mm512_unpacklo_pd(u, v);
    b = _mm512_unpackhi_pd(u, v);
  }
  static void scatterPair(V a, V b, double *const *to, int s) {
    const V u = _mm512_unpacklo_pd(a, b);
    const V v = _mm512_unpackhi_pd(a, b);
    const __m256d uLow = _mm512_castpd512_pd256(u);
    const __m256d vLow = _mm512_castpd512_pd256(v);
    const __m256d uHigh = _mm512_extractf64x4_pd(u, 1);
    const __m256d vHigh = _mm512_extractf64x4_pd(v, 1);
    _mm_storeu_pd(to[0] + s, _mm256_castpd256_pd128(uLow));
    _mm_storeu_pd(to[1] + s, _mm256_castpd256_pd128(vLow));
    _mm_storeu_pd(to[2] + s, _mm256_extractf128_pd(uLow, 1));
    _mm_storeu_pd(to[3] + s, _mm256_extractf128_pd(vLow, 1));
    _mm_storeu_pd(to[4] + s, _mm256_castpd256_pd128(uHigh));
    _mm_storeu_pd(to[5] + s, _mm256_castpd256_pd128(vHigh));
    _mm_storeu_pd(to[6] + s, _mm256_extractf128_pd(uHigh, 1));
    _mm_storeu_pd(to[7] + s, _mm256_extractf128_pd(vHigh, 1));
  }
  static V load(const double *p) { return _mm512_loadu_pd(p); }
  static void store(double *p, V v) { _mm512_storeu_pd(p, v); }
  static void storeLanes(double *p, V v, unsigned lanes) {
    _mm512_mask_storeu_pd(p, static_cast<__mmask8>(lanes), v);
  }
  static V loadOrKeep(V v, const double *p, unsigned lanes) {
    return _mm512_mask_loadu_pd(v, static_cast<__mmask8>(lanes), p);
  }
  static V loadOrOne(const double *p, unsigned lanes) { return loadOrKeep(one(), p, lanes); }
  static V gatherOrOne(const double *row, const int *index, unsigned lanes) {
    const __m256i at = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(index));
    return _mm512_mask_i32gather_pd(one(), static_cast<__mmask8>(lanes), at, row, 8);
  }
};

#pragma GCC diagnostic pop
#pragma GCC pop_options
#endif
#endif
