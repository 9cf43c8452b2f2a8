"""g7231.dask.transcode on a two-worker LocalCluster writes what a local loop writes, and reports a
failing file without stopping the others."""
import numpy as np
import pytest

distributed = pytest.importorskip("distributed")

import g7231  # noqa: E402
import g7231.dask  # noqa: E402


def test_cluster_transcode_equals_a_local_loop(speech, tmp_path):
    sources = []
    for name in ("hts1a", "mmt1", "cross"):
        path = tmp_path / f"{name}.raw"
        speech[name].astype("<i2").tofile(path)
        sources.append(path)
    broken = tmp_path / "broken.wav"
    broken.write_bytes(b"RIFF but not audio")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) \
            as cluster, distributed.Client(cluster) as client:
        records = g7231.dask.transcode(sources[:2] + [broken] + sources[2:], tmp_path / "coded", client, rate=6.3)
    assert [r["path"] for r in records] == [str(p) for p in sources[:2] + [broken] + sources[2:]]
    failed = records.pop(2)
    assert failed["error"] and not (tmp_path / "coded" / "broken.g723").exists()
    for source, record in zip(sources, records):
        local = tmp_path / f"{source.stem}.local.g723"
        expected = g7231.encode_file(source, local, rate=6.3)
        assert record["error"] is None
        assert (tmp_path / "coded" / f"{source.stem}.g723").read_bytes() == local.read_bytes()
        assert record["frames"] == expected["frames"] and record["bytes"] == expected["bytes"]
        assert record["seconds"] == pytest.approx(len(speech[source.stem]) / 8000)


def test_outputs_that_would_collide_are_refused_before_anything_runs(tmp_path):
    with pytest.raises(ValueError, match="would both be written"):
        g7231.dask.transcode([tmp_path / "a/x.raw", tmp_path / "b/x.wav"], tmp_path / "out", client=None)
    assert not (tmp_path / "out").exists()
