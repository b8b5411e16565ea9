"""The pages show what their commands print.

In README.md and docs/*.md, a ```sh block holding one command of the build
(build/release/...) followed right away by a ```text block is a command and
its output: every line of the output block but "..." must be a line that the
command prints (on standard output or standard error). The commands run in a
scratch copy of examples/, so that files they write do not touch the sources.

usage: docs_show_output.py SOURCE_DIR BUILD_DIR
"""

import re
import shlex
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

PAIR = re.compile(r"```sh\n(build/release/[^\n]*(?:\\\n[^\n]*)*)\n```\n\n```text\n(.*?)```", re.S)


def shown_commands(source):
    for page in [source / "README.md", *sorted((source / "docs").glob("*.md"))]:
        for match in PAIR.finditer(page.read_text()):
            yield page.relative_to(source), match.group(1).replace("\\\n", " "), match.group(2)


def main():
    source, build = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    pairs = list(shown_commands(source))
    assert pairs, "no command with its output found in the pages"
    failures = []
    with tempfile.TemporaryDirectory() as scratch:
        shutil.copytree(source / "examples", Path(scratch) / "examples")
        for page, command, shown in pairs:
            arguments = shlex.split(command)
            arguments[0] = str(build / arguments[0].removeprefix("build/release/"))
            done = subprocess.run(arguments, cwd=scratch, capture_output=True, text=True, timeout=60)
            printed = set(done.stdout.splitlines()) | set(done.stderr.splitlines())
            missing = [line for line in shown.splitlines() if line != "..." and line not in printed]
            if missing:
                failures.append(f"{page}: `{command}` does not print:\n  " + "\n  ".join(missing))
            print(f"{page}: {command}: {len(shown.splitlines())} lines shown, {len(missing)} not printed")
    if failures:
        sys.exit("\n".join(failures))


if __name__ == "__main__":
    main()
