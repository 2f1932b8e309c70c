#!/usr/bin/python3
"""Recomputes the ensemble results of a run from its progress text, its study and every
iteration's label field, independently of the program, and compares them with the files the run
wrote. Used to check the expected files of this directory before they are replaced. The label
fields come from the same run made as one shard, whose shard.torva holds them all:

  torvacoreel study/torva.prj.filelist 1 0 > run.txt
  mkdir shard && ln -s ../study shard/study
  (cd shard && TORVA_SHARD=0/1 torvacoreel study/torva.prj.filelist 1 0 > /dev/null)
  recheck.py . 16                             # run directory, iteration count
"""
import re
import struct
import sys

import nibabel as nib
import numpy as np


def records_of(progress, iterations):
    records, current = [], None
    for line in progress.split('\n'):
        if re.fullmatch(r'resampling \d+', line):
            current = []
            records.append(current)
        elif current is not None and re.fullmatch(r'Representative voxel \d+', line):
            current.append(int(line.split()[-1]))
    assert len(records) == iterations, (len(records), iterations)
    return records


def label_fields(shard_path, iterations):
    """Every iteration's label field from a shard file of the whole run (TORVA_SHARD=0/1)."""
    data = open(shard_path, 'rb').read()
    assert data[:8] == b'TORVASHD', shard_path
    at = 8 + 4 + 8 + 8
    images = struct.unpack_from('<I', data, at + 8)[0]
    at += 8 + 4 + 16 * images + 5 * 4
    voxels = struct.unpack_from('<Q', data, at)[0]
    at += 8 + iterations * 22 * 4  # the model records

    def varint():
        nonlocal at
        value, shift = 0, 0
        while True:
            byte = data[at]
            at += 1
            value |= (byte & 0x7F) << shift
            shift += 7
            if byte < 0x80:
                return value

    fields = []
    for _ in range(iterations):
        labels = []
        for _ in range(varint()):
            zigzag = varint()
            labels += [(zigzag >> 1) ^ -(zigzag & 1)] * varint()
        assert len(labels) == voxels
        fields.append(labels)
    return fields


def main(run_dir, iterations):
    progress = open(run_dir + '/run.txt').read()
    records = records_of(progress, iterations)

    # Distinct models by region count and id set, in order of first occurrence.
    models = []
    for i, ids in enumerate(records):
        key = (len(ids), tuple(sorted(ids)))
        for model in models:
            if model[1] == key:
                model[2] += 1
                break
        else:
            models.append([i, key, 1])
    best = 0
    for q in range(1, len(models)):
        if models[q][2] > models[best][2]:
            best = q
    mode_id = models[best][0]
    mode = records[mode_id]
    members = [j for j, ids in enumerate(records) if (len(ids), tuple(sorted(ids))) == models[best][1]]
    lines = ''.join('model=%d, frq=%d\n' % (m[0], m[2]) for m in models)
    lines += 'the model mode is #%d, including %s\n' % (mode_id, ''.join('%d ' % j for j in members))
    assert lines in progress, lines

    summary = ('model ensemble includes\n%d \ndifferent models\nmodel with highest frequency is '
               'model \n%d \nfreq=\n%f\nmodel freq=\n' % (len(models), mode_id, models[best][2] / iterations))
    summary += ''.join('%f ' % float(np.float32(c) / np.float32(iterations))
                       for c in sorted(m[2] for m in models)) + '\n'
    assert open(run_dir + '/model.el.torva').read() == summary

    tokens = open(run_dir + '/study/torva.prj.filelist').read().split()
    subjects = int(tokens[1])
    voxels = int(tokens[5]) * int(tokens[6]) * int(tokens[7])
    entries = [(tokens[12 + 3 * k], int(tokens[13 + 3 * k])) for k in range(subjects)]
    data = np.array([np.asarray(nib.load(run_dir + '/' + path).dataobj).reshape(-1, order='F')[:voxels]
                     for path, _ in entries])
    fv = np.array([value for _, value in entries])

    nodes = [i - 1 for i in mode]
    log = 'Variable_list\n'
    for n in nodes:
        log += '%d\n' % n + ''.join('%d ' % c for c in data[:, n]) + '\n'
    log += 'fv\n' + ''.join('%d ' % c for c in fv) + '\nR-SET\n%d ' % len(nodes)
    log += ''.join('%d ' % n for n in nodes) + '\n'
    assert open(run_dir + '/log.el.torva').read() == log

    # Final network: each voxel node alone, the function variable with all of them as parents
    # (lowest parent fastest); add-one smoothed; numbers as %.6g.
    k = len(nodes)
    columns = [data[:, n] for n in nodes]
    network = '%d\n' % (k + 1) + '2 ' * (k + 1) + '\n' + '0 \n' * k
    network += '%d ' % k + ''.join('%d ' % i for i in range(k)) + '\n'
    for column in columns:
        ones = int(column.sum())
        network += '2 %.6g %.6g \n' % ((subjects - ones + 1) / (subjects + 2), (ones + 1) / (subjects + 2))
    counts = np.ones((2, 2 ** k))
    for s in range(subjects):
        counts[fv[s], sum(int(columns[i][s]) << i for i in range(k))] += 1
    counts /= counts.sum(axis=0)
    network += '%d ' % counts.size + ''.join('%.6g ' % counts[state, j]
                                             for state in range(2) for j in range(2 ** k)) + '\n'
    assert open(run_dir + '/bn.el.torva').read() == network

    # Vote of the members, each region number translated through its representative voxel.
    votes = np.zeros((voxels, len(mode) + 1), int)
    fields = label_fields(run_dir + '/shard/shard.torva', iterations)
    for j in members:
        labels = fields[j]
        assert len(labels) >= voxels
        for v in range(voxels):
            label = labels[v]
            votes[v, mode.index(records[j][label - 1]) + 1 if label >= 1 else 0] += 1
    consensus = votes.argmax(axis=1)  # the first maximum: the lower label wins a tie
    percent = [int((100.0 / len(members)) * votes[v, consensus[v]]) if consensus[v] else 0
               for v in range(voxels)]
    roi = '%d %d\n' % (len(mode), voxels) + ''.join('%d ' % c for c in consensus) + '\n'
    assert open(run_dir + '/roi.el.torva').read() == roi
    subject_affine = nib.load(run_dir + '/' + entries[0][0]).affine
    for name, expected in (('label_field_torvael', consensus), ('prob_map_torvael', np.array(percent, float))):
        for suffix in ('.nii', '.hdr'):
            image = nib.load(run_dir + '/' + name + suffix)
            assert (np.asarray(image.dataobj).reshape(-1, order='F') == expected).all(), name + suffix
            assert np.allclose(image.affine, subject_affine), name + suffix
    print('consistent; mode', mode_id, 'members', members, 'orders', sorted(set(tuple(records[j]) for j in members)))


if __name__ == '__main__':
    main(sys.argv[1], int(sys.argv[2]))
