#!/usr/bin/env python3
"""The Debian package of vivad-flash as a user and lintian see it.

Builds the package with CPack from a configured and built tree, unpacks it into a scratch root
with dpkg -x, and checks: the control fields; that the files are where dpkg -c says and where
the package promises them; the shipped udev rule and README section against their sources; the
manual page as man renders it; the installed program's --version; and lintian, which must find
no error (its warnings are printed). Everything it makes stays in the build folder.
"""

import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from tester_log import exit_code_table  # noqa: E402

PACKAGE = "vivad-flash"
PROGRAM = "usr/bin/vivad-flash"
UDEV_RULE = "usr/lib/udev/rules.d/70-vivad-tester.rules"
MAN_PAGE = "usr/share/man/man1/vivad-flash.1.gz"
DOC_DIR = "usr/share/doc/vivad-flash"
COPYRIGHT = f"{DOC_DIR}/copyright"
CHANGELOG = f"{DOC_DIR}/changelog.gz"
COMMAND_LINE_DOC = f"{DOC_DIR}/command-line.md"
SHIPPED_FILES = {PROGRAM, UDEV_RULE, MAN_PAGE, COPYRIGHT, CHANGELOG, COMMAND_LINE_DOC}

# The manual page's sections, in the order it has them.
MAN_SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "DEVICE ACCESS", "ENVIRONMENT",
                "FILES", "SEE ALSO"]

failures = []


def check(condition, what, detail=""):
    if not condition:
        failures.append(what + (f"\n    {detail}" if detail else ""))
    return condition


def run(command, **kwargs):
    """Runs a command to its end; its output as text."""
    return subprocess.run(command, capture_output=True, text=True, check=False, **kwargs)


def must_run(command, what, **kwargs):
    result = run(command, **kwargs)
    if result.returncode != 0:
        sys.exit(f"{what} failed ({result.returncode}): {' '.join(map(str, command))}\n"
                 f"{result.stdout}{result.stderr}")
    return result.stdout


def build_package(cpack, build_dir, scratch):
    """The package CPack makes from the build's own configuration, written into the scratch."""
    output = scratch / "cpack"
    must_run([cpack, "-G", "DEB", "--config", build_dir / "CPackConfig.cmake",
              "-B", output / "work", "-D", f"CPACK_OUTPUT_FILE_PREFIX={output}"], "cpack")
    packages = glob.glob(str(output / "*.deb"))
    if len(packages) != 1:
        sys.exit(f"cpack made {len(packages)} packages in {output}, not one: {packages}")
    return Path(packages[0])


def check_control(deb, version):
    def field(name):
        return must_run(["dpkg-deb", "--field", deb, name], f"dpkg-deb --field {name}").rstrip("\n")

    architecture = must_run(["dpkg", "--print-architecture"], "dpkg --print-architecture").strip()
    check(field("Package") == PACKAGE, "Package", field("Package"))
    # A native package: the project's version alone, no Debian revision.
    check(field("Version") == version, f"Version is the project's {version}", field("Version"))
    check(field("Architecture") == architecture, f"Architecture is dpkg's {architecture}",
          field("Architecture"))
    check(field("Section") == "utils", "Section utils", field("Section"))
    check(field("Priority") == "optional", "Priority optional", field("Priority"))
    check(re.fullmatch(r".+ <[^@\s]+@[^@\s]+>", field("Maintainer")) is not None,
          "Maintainer with an e-mail address", field("Maintainer"))
    # Computed by dpkg-shlibdeps from what the program links.
    check(re.search(r"\blibc6 \(>= [^)]+\)", field("Depends")) is not None,
          "Depends names libc6 with a version", field("Depends"))
    description = field("Description").split("\n")
    check(len(description) > 2 and all(line.startswith(" ") for line in description[1:]),
          "Description has an extended part", "\n".join(description))


def listed_paths(deb):
    """The paths of the package's data archive as dpkg -c lists them, by kind."""
    files, directories = set(), set()
    for line in must_run(["dpkg", "-c", deb], "dpkg -c").splitlines():
        mode, owner, *_, path = line.split(None, 5)
        path = path.removeprefix("./").rstrip("/")
        check(owner == "root/root", f"{path} belongs to root", line)
        if not path:
            continue
        (directories if mode.startswith("d") else files).add(path)
        check(mode in ("-rwxr-xr-x", "-rw-r--r--", "drwxr-xr-x"), f"{path}: mode {mode}", line)
    return files, directories


def unpacked_paths(root):
    files, directories = set(), set()
    for folder, subfolders, names in os.walk(root):
        relative = Path(folder).relative_to(root)
        directories.update(str(relative / name) for name in subfolders)
        files.update(str(relative / name) for name in names)
    return files, directories


def check_layout(deb, root, source_dir):
    listed_files, listed_directories = listed_paths(deb)
    files, directories = unpacked_paths(root)
    check(files == listed_files and directories == listed_directories,
          "dpkg -x unpacks what dpkg -c lists",
          f"only listed: {sorted((listed_files | listed_directories) - (files | directories))}; "
          f"only unpacked: {sorted((files | directories) - (listed_files | listed_directories))}")
    check(files == SHIPPED_FILES, "the package ships its program, rule, page and documents",
          f"missing: {sorted(SHIPPED_FILES - files)}; unexpected: {sorted(files - SHIPPED_FILES)}")
    check(os.access(root / PROGRAM, os.X_OK), f"{PROGRAM} is executable")
    if (root / UDEV_RULE).is_file():
        check((root / UDEV_RULE).read_bytes() == (source_dir / "linux/70-vivad-tester.rules")
              .read_bytes(), "the udev rule is the source's")
    if (root / COMMAND_LINE_DOC).is_file():
        doc = (root / COMMAND_LINE_DOC).read_text(encoding="utf-8")
        readme = (source_dir / "README.md").read_text(encoding="utf-8")
        check(doc.startswith("## Command line\n") and "\n### Linux set-up\n" in doc
              and "\n## " not in doc and doc.strip() in readme,
              "the documentation is the README's command-line section, whole", doc[:300])
    if (root / COPYRIGHT).is_file():
        copyright_text = (root / COPYRIGHT).read_text(encoding="utf-8")
        check(copyright_text.startswith(
            "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n")
            and "License: BSD-3-clause" in copyright_text,
            "a machine-readable copyright naming CLI11's license")


def rendered_man_page(root):
    env = dict(os.environ, MANWIDTH="80", MANPAGER="cat", PAGER="cat", LANG="C.UTF-8",
               LC_ALL="C.UTF-8")
    env.pop("MANOPT", None)
    result = run(["man", "--warnings", "-l", root / MAN_PAGE], env=env)
    check(result.returncode == 0, "man -l renders the page", result.stderr)
    check(result.stderr == "", "man renders the page without a warning", result.stderr)
    # Rendered for a pipe, man leaves no overstrikes, but be sure of plain text.
    return re.sub(r".\x08", "", result.stdout)


def sections(page):
    found, current = {}, None
    for line in page.splitlines():
        if re.fullmatch(r"[A-Z][A-Z ]+", line):
            current = line
            found[current] = []
        elif current:
            found[current].append(line)
    return {name: "\n".join(lines) for name, lines in found.items()}


def check_command_line_doc(root, program_help):
    """The README's command-line section, as shipped, lists the program's exit codes: the table
    is kept by hand there, so it is held to the program's own."""
    doc = (root / DOC_DIR / "command-line.md").read_text()
    doc_codes = [int(code) for code in re.findall(r"^\| (\d+) \|", doc, re.M)]
    help_codes = exit_code_table(program_help)
    check(help_codes and doc_codes == help_codes,
          "the documentation lists the program's exit codes",
          f"--help: {help_codes}; command-line.md: {doc_codes}")


def check_man_page(page, program_help, version):
    found = sections(page)
    check([name for name in found if name in MAN_SECTIONS] == MAN_SECTIONS,
          "the manual page has its sections in order", f"found: {list(found)}")
    check(re.search(r"^\s+vivad-flash - \S", found.get("NAME", ""), re.M) is not None,
          "NAME: the program and what it is", found.get("NAME", ""))
    synopsis = found.get("SYNOPSIS", "")
    for form in ("vivad-flash list", "vivad-flash info [--serial SERIAL]",
                 "vivad-flash program [--serial SERIAL]", "vivad-flash --help | --version"):
        check(form in synopsis, f"SYNOPSIS: {form}", synopsis)
    options = found.get("OPTIONS", "")
    for command in ("list", "info", "program"):
        check(re.search(rf"^ {{7}}{command}\s+\S", options, re.M) is not None,
              f"OPTIONS: the command {command} as an entry", options)
    for option in ("--serial SERIAL", "--firmware-dir DIR", "--revision 1|2", "--trace FILE",
                   "--quiet", "--version"):
        check(re.search(rf"^ {{7}}{re.escape(option)}$", options, re.M) is not None,
              f"OPTIONS: {option}", options)
    # The exit codes are the program's own, every one of them.
    help_codes = exit_code_table(program_help)
    page_codes = [int(code) for code in
                  re.findall(r"^ {7}(\d+)\s+\S", options.split("Exit codes:", 1)[-1], re.M)]
    check(help_codes and page_codes == help_codes, "the page lists the program's exit codes",
          f"--help: {help_codes}; page: {page_codes}")
    files = found.get("FILES", "")
    check("/usr/lib/udev/rules.d/70-vivad-tester.rules" in files, "FILES: the udev rule", files)
    check("uaccess" in found.get("DEVICE ACCESS", ""), "DEVICE ACCESS: what the rule grants")
    environment = found.get("ENVIRONMENT", "")
    check("VIVAD_SYSFS_ROOT" in environment and "VIVAD_DEV_ROOT" in environment,
          "ENVIRONMENT: the test settings", environment)
    check(re.search(rf"^vivad-flash {re.escape(version)}\s", page.splitlines()[-1]) is not None,
          f"the page's footer names version {version}", page.splitlines()[-1])


def run_lintian(deb, scratch):
    # --no-cfg and --ignore-lintian-env: no configuration of the machine's or user's hides a tag.
    env = dict(os.environ, TMPDIR=str(scratch))
    result = run(["lintian", "--allow-root", "--no-cfg", "--ignore-lintian-env", "--display-info",
                  "--fail-on", "error", deb], env=env)
    tags = [line for line in result.stdout.splitlines() if re.match(r"[EWIXPO]: ", line)]
    errors = [line for line in tags if line.startswith("E: ")]
    warnings = [line for line in tags if line.startswith("W: ")]
    print(f"lintian: {len(errors)} errors, {len(warnings)} warnings, "
          f"{len(tags) - len(errors) - len(warnings)} other tags")
    for line in tags:
        print(f"  {line}")
    check(result.returncode == 0 and not errors, "lintian finds no error",
          result.stdout + result.stderr)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cpack", required=True, help="the cpack of the build's CMake")
    parser.add_argument("--build-dir", required=True, type=Path)
    parser.add_argument("--source-dir", required=True, type=Path)
    parser.add_argument("--version", required=True, help="the project's version")
    args = parser.parse_args()

    scratch = args.build_dir / "tests" / "packaging" / "scratch"
    shutil.rmtree(scratch, ignore_errors=True)
    scratch.mkdir(parents=True)

    deb = build_package(args.cpack, args.build_dir, scratch)
    print(f"package: {deb.name}")
    check(deb.name == f"{PACKAGE}_{args.version}_"
          f"{must_run(['dpkg', '--print-architecture'], 'dpkg').strip()}.deb",
          "the package file is named as Debian names it", deb.name)
    check_control(deb, args.version)

    root = scratch / "root"
    must_run(["dpkg", "-x", deb, root], "dpkg -x")
    check_layout(deb, root, args.source_dir)

    program = root / PROGRAM
    version = run([program, "--version"])
    check(version.returncode == 0 and version.stdout == f"vivad-flash {args.version}\n",
          f"the installed program says vivad-flash {args.version}", version.stdout + version.stderr)
    program_help = run([program, "--help"]).stdout
    check_command_line_doc(root, program_help)
    if (root / MAN_PAGE).is_file():
        check_man_page(rendered_man_page(root), program_help, args.version)

    run_lintian(deb, scratch)

    for failure in failures:
        print(f"FAILED: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
