"""The evaluation's report writer."""
import os
import tempfile

from calyx_train import evaluate


def test_evaluation_results_section_is_replaced_in_place():
    summary = {"0": {"items": 2, "in": -0.3, "out": 7.9, "improvement": 8.2, "stoi_in": 0.7, "stoi_out": 0.8},
               "clean": {"items": 2, "in": 90.0, "out": 24.0, "improvement": -66.0,
                         "stoi_in": 1.0, "stoi_out": 0.99}}
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "MODEL.md")
        with open(path, "w") as f:
            f.write("# title\n\nintro\n")
        evaluate.write_results_section(path, summary, 2, 1471)
        first = open(path).read()
        assert first.startswith("# title\n\nintro\n\n<!-- results:begin -->")
        assert "| +0 dB | 2 | -0.30 | 7.90 | +8.20 | 0.700 | 0.800 |" in first
        assert "| clean | 2 | — | 24.00 | — | 1.000 | 0.990 |" in first
        with open(path, "a") as f:
            f.write("\n## after\n")
        summary["0"]["out"] = 9.0
        evaluate.write_results_section(path, summary, 2, 1471)
        second = open(path).read()
        assert second.count("results:begin") == 1 and second.endswith("## after\n")
        assert "| 9.00 |" in second and "| 7.90 |" not in second
