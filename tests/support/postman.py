"""Postman's own tools for the tests: the official Collection v2.1.0 JSON schema
and the newman collection runner.

Neither is on PyPI. They are looked for in the folder named by PEMRIK_POSTMAN,
else in `shared/postman/` beside the repository root (where CI puts them). The
runner is `newman` from PATH, else the newman.js named by PEMRIK_NEWMAN, else
the copy that `bash scripts/dev.sh test` unpacks into build/newman/. When a
tool is missing its tests are skipped with the reason, or fail when
PEMRIK_REQUIRE_CLIENTS is set (CI sets it, so that they cannot silently skip).
"""

import functools
import json
import os
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
SCHEMA_NAME = "collection-v2.1.0.schema.json"
UNPACKED = Path("build", "newman", "node_modules", "newman", "bin", "newman.js")


def postman_folder() -> Path:
    return Path(os.environ.get("PEMRIK_POSTMAN") or ROOT.parent / "shared" / "postman")


def unavailable(reason: str) -> None:
    """Skips the test, or fails it when the clients are required."""
    if os.environ.get("PEMRIK_REQUIRE_CLIENTS"):
        pytest.fail(reason + " (PEMRIK_REQUIRE_CLIENTS is set)")
    pytest.skip(reason)


@functools.cache
def _validator():
    path = postman_folder() / SCHEMA_NAME
    if not path.is_file():
        return (
            None,
            f"the Postman collection schema is missing: no {path} (set PEMRIK_POSTMAN to its folder)",
        )
    try:
        import jsonschema
    except ImportError:
        return None, "jsonschema is not installed"
    schema = json.loads(path.read_text(encoding="utf-8"))
    jsonschema.Draft7Validator.check_schema(schema)
    return jsonschema.Draft7Validator(
        schema, format_checker=jsonschema.Draft7Validator.FORMAT_CHECKER
    ), ""


def schema_errors(text: str) -> list[str]:
    """Every way the document text breaks the official schema (skips when it is missing)."""
    validator, reason = _validator()
    if validator is None:
        unavailable(reason)
    return [
        f"{'/'.join(map(str, e.absolute_path))}: {e.message}"
        for e in validator.iter_errors(json.loads(text))
    ]


def conforms(text: str) -> bool:
    """True when the text validates, or when the schema is absent (the schema
    tests then report the skip); other tests call this on every export."""
    validator, _ = _validator()
    return validator is None or validator.is_valid(json.loads(text))


def newman_command() -> list[str]:
    """The command that starts newman; skips (or fails) the test when there is none."""
    found = shutil.which("newman")
    if found:
        return [found]
    script = os.environ.get("PEMRIK_NEWMAN") or str(ROOT / UNPACKED)
    if not Path(script).is_file():
        unavailable(
            "newman is missing: run the suite with `bash scripts/dev.sh test` (it unpacks "
            f"{postman_folder() / 'newman-node_modules.tgz'} into build/newman/), put newman on "
            "PATH, or set PEMRIK_NEWMAN to newman's bin/newman.js"
        )
    node = shutil.which("node")
    if not node:
        unavailable("node is missing: newman needs node 18 or newer on PATH")
    return [node, script]


def run_newman(collection: str, folder: Path, *options: str) -> dict:
    """Runs one collection document through newman and returns its JSON report."""
    source, report = folder / "collection.json", folder / "report.json"
    source.write_text(collection, encoding="utf-8")
    report.unlink(missing_ok=True)
    # No proxy and no user configuration: only the collection decides what is sent.
    env = {
        "PATH": os.environ.get("PATH", ""),
        "HOME": str(folder),
        "LC_ALL": "C.UTF-8",
        "NO_COLOR": "1",
    }
    done = subprocess.run(
        [
            *newman_command(),
            "run",
            str(source),
            "--reporters",
            "json",
            "--reporter-json-export",
            str(report),
            "--timeout-request",
            "60000",
            *options,
        ],
        cwd=folder,
        env=env,
        capture_output=True,
        text=True,
        timeout=600,
    )
    assert report.is_file(), (
        f"newman wrote no report (exit status {done.returncode}):\n{done.stdout}{done.stderr}"
    )
    return json.loads(report.read_text(encoding="utf-8"))
