"""README tells the truth: its programs print what it shows, its messages are the module's."""

import re
import subprocess
import sys
from pathlib import Path

import pytest

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection

README = (Path(__file__).resolve().parents[2] / "README.md").read_text(encoding="utf-8")
SHOWN = re.findall(r"```python\n(.*?)```\n\n```text\n(.*?)```", README, re.S)
HELLO = re.search(r"<<'EOF'\n(.*?)EOF\n[^\n]*# ([^\n]*)\n", README, re.S)
GET = HTTPMETHOD.GET
CAUSES = [  # in the order of the table of messages
    lambda: Pemrik(5, [], GET),
    lambda: Pemrik("https://h/", "Accept: */*", GET),
    lambda: Pemrik("https://h/", {"Accept": "*/*"}, GET),
    lambda: Pemrik("https://h/", [["Accept", "*/*"]], GET),
    lambda: Pemrik("https://h/", [("Accept", "*/*", "x")], GET),
    lambda: Pemrik("https://h/", [], "GET"),
    lambda: PemrikCollection().add_request("https://h/"),
    lambda: Pemrik("https://h/", []),
    lambda: Pemrik("https://h/", [("A", "1"), ("B", "x\r\ny")], GET).get_request_command(),
    lambda: PemrikCollection([Pemrik("/api/x", [], GET)]).export_collection(),
]


@pytest.mark.parametrize("program, output", [*SHOWN, (HELLO[1], HELLO[2] + "\n")])
def test_programs_print_what_readme_shows(program, output):
    run = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True)
    assert (run.stdout, run.stderr) == (output, "")


def test_messages_are_the_module_s():
    messages = re.findall(r"^\| `+ ?(.+?) ?`+ \| ", README, re.M)
    for message, cause in zip(messages, CAUSES, strict=True):  # one cause for each message
        info = pytest.raises((TypeError, ValueError), cause)
        assert str(info.value).startswith(message.removesuffix(" ...")), message
