# Front door: `make demo` and `make test` install what is missing, build and run.
SHELL := /bin/bash
PACKAGES := cmake g++ make libnifti-dev libgtest-dev libbenchmark-dev libxml2-utils python3-nibabel \
  libpng-dev zlib1g-dev
# Only the tests need these: a single-node Slurm for the cluster test, clang for the fuzzers,
# Chromium for the check of the report page's layout, the package and manual-page tools for the
# install test.
TEST_PACKAGES := slurm-wlm munge clang libclang-rt-14-dev chromium dpkg-dev man-db groff-base
# `make package` needs dpkg-shlibdeps.
PACKAGE_PACKAGES := dpkg-dev
PREFIX ?= /usr/local
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD := build
ASAN_BUILD := build-asan
TSAN_BUILD := build-tsan
# The tests that run iterations on several threads, also run under ThreadSanitizer.
TSAN_TESTS := ThreadCounts|RoutesAgree|DecodedStudy|PermutationTest|ProgressLineDrawing|StopSignal|HelperPool|LatticeLbp.Helpers|ThreadTeam
DEMO_DIR := demo
PREPARE_DEMO_DIR := demo-prepare

.PHONY: all deps test-deps install-packages build build-asan build-tsan test demo demo-prepare bench clean \
  install package

all: build

deps:
	@$(MAKE) --no-print-directory install-packages WANTED="$(PACKAGES)"

test-deps: deps
	@$(MAKE) --no-print-directory install-packages WANTED="$(TEST_PACKAGES)"

install-packages:
	@missing=""; \
	for p in $(WANTED); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  SUDO=""; [ "$$(id -u)" -ne 0 ] && SUDO=sudo; \
	  $$SUDO apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends $$missing >/dev/null; \
	fi

FUZZ_BUILD := build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := $(sort $(basename $(notdir $(wildcard fuzz/*_fuzz.cpp))))
.PHONY: fuzz fuzz-clean

# Each fuzz target runs FUZZ_SECONDS from its seeds in fuzz/corpus/<target> (new inputs go to
# build-fuzz/corpus, so the seeds stay as committed); any crash, hang or leak fails the target.
$(FUZZ_BUILD)/CMakeCache.txt:
	@cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DTORVA_FUZZ=ON >/dev/null

fuzz: test-deps $(FUZZ_BUILD)/CMakeCache.txt
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target torva_fuzzers -- --no-print-directory \
	  | grep -vE '^\[ *[0-9]+%\]|^-- ' || true
	@failed=""; \
	for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/findings/$$t; \
	  echo "== $$t ($(FUZZ_SECONDS) s)"; \
	  $(FUZZ_BUILD)/$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -close_fd_mask=3 \
	    -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/findings/$$t/ \
	    $(FUZZ_BUILD)/corpus/$$t fuzz/corpus/$$t > $(FUZZ_BUILD)/$$t.log 2>&1 || failed="$$failed $$t"; \
	  grep -E '^#[0-9]+' $(FUZZ_BUILD)/$$t.log | tail -1; \
	done; \
	if [ -n "$$failed" ]; then \
	  echo "findings in:$$failed (inputs in $(FUZZ_BUILD)/findings/, reports in $(FUZZ_BUILD)/<target>.log)"; \
	  exit 1; \
	fi

clean: fuzz-clean
fuzz-clean:
	@rm -rf $(FUZZ_BUILD)

$(BUILD)/CMakeCache.txt:
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null

$(ASAN_BUILD)/CMakeCache.txt:
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVA_SANITIZE=ON \
	  -DTORVA_BENCHMARKS=OFF >/dev/null

build: deps $(BUILD)/CMakeCache.txt
	@cmake --build $(BUILD) -j $(JOBS) -- --no-print-directory | grep -vE '^\[ *[0-9]+%\]|^-- ' || true
	@test -x $(BUILD)/torvacoreel

$(TSAN_BUILD)/CMakeCache.txt:
	@cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVA_THREAD_SANITIZE=ON \
	  -DTORVA_BENCHMARKS=OFF >/dev/null

build-tsan: deps $(TSAN_BUILD)/CMakeCache.txt
	@cmake --build $(TSAN_BUILD) -j $(JOBS) -- --no-print-directory | grep -vE '^\[ *[0-9]+%\]|^-- ' || true
	@test -x $(TSAN_BUILD)/torvacoreel_tests

build-asan: deps $(ASAN_BUILD)/CMakeCache.txt
	@cmake --build $(ASAN_BUILD) -j $(JOBS) -- --no-print-directory | grep -vE '^\[ *[0-9]+%\]|^-- ' || true
	@test -x $(ASAN_BUILD)/torvacoreel_tests

test: test-deps build build-asan build-tsan
	@echo "== tests (release build)"
	@cd $(BUILD) && ctest -j $(JOBS) --output-on-failure --timeout 600
	@echo "== tests (AddressSanitizer + UndefinedBehaviorSanitizer build)"
	@cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest -j $(JOBS) --output-on-failure --timeout 900
	@echo "== concurrency tests (ThreadSanitizer build)"
	@cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1 \
	  ctest -j $(JOBS) --output-on-failure --timeout 900 -R '$(TSAN_TESTS)'

demo: build
	@rm -rf $(DEMO_DIR) && mkdir -p $(DEMO_DIR)
	@cd $(DEMO_DIR) && ../$(BUILD)/make_example_study --out study --subjects 100 >/dev/null
	@cd $(DEMO_DIR) && ../$(BUILD)/torvacoreel study/torva.prj.filelist 1 0 > run.txt; \
	  status=$$?; sed -n '/^model=/,$$p' run.txt | grep -v '^subject' | cut -c1-100; echo "exit status $$status; full progress text in $(DEMO_DIR)/run.txt"; \
	  exit $$status
	@cd $(DEMO_DIR) && awk 'NR == FNR { if (FNR == 2) for (i = 1; i <= NF; i++) { label[i] = $$i; labelled += ($$i > 0) }; next } \
	  { inside = 0; split("", regions); for (i = 1; i <= NF; i++) if (label[$$i] > 0) { inside++; regions[label[$$i]] = 1 } \
	    list = ""; for (r in regions) list = list " " r; found += inside; \
	    printf "planted region %d: %d of %d voxels in consensus region(s)%s\n", FNR, inside, NF, (list == "" ? " none" : list) } \
	  END { printf "consensus voxels outside the planted regions: %d\n", labelled - found }' \
	  roi.el.torva study/regions.txt
	@echo "Results are in $(DEMO_DIR)/: model.el.torva, bn.el.torva, bn.el.xdsl, log.el.torva, roi.el.torva,"
	@echo "  label_field_torvael.nii and prob_map_torvael.nii (also as .hdr/.img pairs)"
	@cd $(DEMO_DIR) && ../$(BUILD)/torvacoreel-permute study/torva.prj.filelist .
	@cd $(DEMO_DIR) && ../$(BUILD)/torvacoreel-report --study study/torva.prj.filelist --out report .
	@echo "Open $(CURDIR)/$(DEMO_DIR)/report/report.html in a web browser"

# A participants table with scores and compressed masks of mixed types, as studies arrive,
# made into a study by torvacoreel-prepare and analysed.
demo-prepare: build
	@rm -rf $(PREPARE_DEMO_DIR) && mkdir -p $(PREPARE_DEMO_DIR)
	@cd $(PREPARE_DEMO_DIR) && ../$(BUILD)/make_example_study --out data --subjects 100 \
	  --layout participants >/dev/null
	@echo "== torvacoreel-prepare on $(PREPARE_DEMO_DIR)/data/participants.tsv and data/masks/*.nii.gz"
	@cd $(PREPARE_DEMO_DIR) && ../$(BUILD)/torvacoreel-prepare --table data/participants.tsv \
	  --id-column participant_id --image 'masks/{id}_lesion.nii.gz' --outcome-column rankin \
	  --above 2 --skip-missing --out study
	@echo "== torvacoreel on the prepared study"
	@cd $(PREPARE_DEMO_DIR)/study && ../../$(BUILD)/torvacoreel torva.prj.filelist 1 0 > run.txt; \
	  status=$$?; sed -n '/^model=/,$$p' run.txt | grep -v '^subject' | cut -c1-100; \
	  echo "exit status $$status; results and full progress text in $(PREPARE_DEMO_DIR)/study/"; \
	  exit $$status

# The commands, their manual pages and the README under PREFIX (DESTDIR is honoured).
install: build
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# A Debian package, torvacoreel_<version>_amd64.deb, in the current folder.
package: build
	@$(MAKE) --no-print-directory install-packages WANTED="$(PACKAGE_PACKAGES)"
	@cpack -G DEB -B $(BUILD)/package --config $(BUILD)/CPackConfig.cmake >/dev/null
	@cp $(BUILD)/package/torvacoreel_*_amd64.deb . && ls torvacoreel_*_amd64.deb

bench: build
	@$(BUILD)/torvacoreel_bench

clean:
	@rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(DEMO_DIR) $(PREPARE_DEMO_DIR)
