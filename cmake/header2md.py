#!/usr/bin/env python3
"""Turns the public header into the Markdown source of its man page.

The header is the one place where the interface is documented: its opening
comment becomes the DESCRIPTION, each banner comment a section, a comment
directly above a declaration that declaration's entry (the declaration shown
as code), an enumeration a list of its names, values and comments. Lines of a
comment indented by two or more spaces (tables, lists of forms) are kept as
they stand; other lines flow into paragraphs.

    header2md.py VrenLabelAPI.h VERSION > VrenLabelAPI.3.md
"""
import re
import sys

BANNER = re.compile(r"^/\* -{20,} \*/$")
NAME = re.compile(r"([A-Za-z_][A-Za-z0-9_]*)\s*[\[(;]")
ENUMERATOR = re.compile(r"^\s*([A-Z_][A-Z0-9_]*)\s*=\s*([-0-9x]+)")
PLUMBING = ("VREN_API", "VREN_PRINTF_LIKE", "VREN_LABEL_API")


def comment_text(lines):
    """The text of a comment without its /*, */ and leading ' * '."""
    text = []
    for line in lines:
        line = line.strip()
        line = re.sub(r"^/\*\*?", "", line)
        line = re.sub(r"\*/$", "", line).strip()
        if line.startswith("*"):
            line = line[2:] if line.startswith("* ") else line[1:]
        text.append(line.rstrip())
    while text and not text[0].strip():
        text.pop(0)
    while text and not text[-1].strip():
        text.pop()
    return text


def escape(text):
    return re.sub(r"([\\*_<>])", r"\\\1", text)


def markdown(text):
    """Comment lines as Markdown: indented lines verbatim, setext underlines
    of dashes as subsection headings, the rest as paragraphs."""
    out = [""]
    verbatim = False
    for i, line in enumerate(text):
        following = text[i + 1] if i + 1 < len(text) else ""
        if re.fullmatch(r"-{3,}", line.strip()):
            continue
        if line.strip() and re.fullmatch(r"-{3,}", following.strip()):
            out += ["", "## " + escape(line.strip()), ""]
            verbatim = False
        elif line.startswith("  ") and line.strip():
            if not verbatim:
                out.append("")
            out.append("    " + line)
            verbatim = True
        else:
            if verbatim and line.strip():
                out.append("")
            verbatim = False
            out.append(escape(line))
    return out


def enumeration(code):
    """An enumeration as a list: NAME = value, then its comment."""
    out = [""]
    comment = []
    for line in code[1:]:
        stripped = line.strip()
        if stripped.startswith("/*"):
            comment = comment_text([stripped])
            continue
        match = ENUMERATOR.match(line)
        if match:
            out += [f"**{escape(match.group(1))}** = {match.group(2)}", ":   " + escape(" ".join(comment))
                    if comment else ":   ", ""]
            comment = []
    return out


def declaration(lines, i):
    """The declaration starting at line i (up to its ';' outside braces)."""
    start, depth = i, 0
    while i < len(lines):
        depth += lines[i].count("{") - lines[i].count("}")
        if depth <= 0 and lines[i].rstrip().endswith(";"):
            break
        i += 1
    return lines[start:i + 1], i + 1


def main():
    header, version = sys.argv[1], sys.argv[2]
    lines = open(header, encoding="utf-8").read().splitlines()
    out = [
        "---",
        "title: VrenLabelAPI",
        "section: 3",
        f"header: libVrenLabelAPI {version}",
        "footer: libVrenLabelAPI",
        "---",
        "",
        "# NAME",
        "",
        "VrenLabelAPI - drive VREN thermal label printers from C",
        "",
        "# SYNOPSIS",
        "",
        "    #include <VrenLabelAPI.h>",
        "",
        "    cc app.c $(pkg-config --cflags --libs VrenLabelAPI)",
        "",
        "    find_package(VrenLabelAPI 1.0 REQUIRED)",
        "    target_link_libraries(app PRIVATE VrenLabelAPI::VrenLabelAPI)",
        "",
        "# DESCRIPTION",
    ]
    i, first, pending = 0, True, []
    while i < len(lines):
        stripped = lines[i].strip()
        if BANNER.match(stripped) and i + 2 < len(lines) and BANNER.match(lines[i + 2].strip()):
            out += ["", "# " + lines[i + 1].strip()[2:-2].strip().upper()]
            pending = []
            i += 3
        elif stripped.startswith("/*"):
            start = i
            while "*/" not in lines[i]:
                i += 1
            text = comment_text(lines[start:i + 1])
            i += 1
            if first:
                # The opening comment's first paragraph only names the file.
                first = False
                while text and text[0].strip():
                    text.pop(0)
                out += markdown(text)
            elif i < len(lines) and lines[i].strip() and not lines[i].lstrip().startswith(("/*", "#")):
                pending = text
            else:
                out += markdown(text)
        elif stripped.startswith("#define") and not any(p in stripped for p in PLUMBING):
            out += ["", "    " + stripped]
            i += 1
        elif stripped.startswith(("VREN_API", "extern VREN_API", "enum", "typedef", "struct")):
            code, i = declaration(lines, i)
            if stripped.startswith("enum"):
                out += markdown(pending) + enumeration(code)
            else:
                match = NAME.search(" ".join(code[0].replace("VREN_API", "").split()))
                if pending and match:
                    out += ["", "## " + escape(match.group(1))]
                shown = [re.sub(r"VREN_API |\s*VREN_PRINTF_LIKE\([^)]*\)", "", c) for c in code]
                out += [""] + ["    " + c for c in shown] + (markdown(pending) if pending else [])
            pending = []
        else:
            i += 1
    out += [
        "",
        "# FILES",
        "",
        "*VRENLinuxSDKLog.txt*",
        ":   The debug log, in the current working directory of the program.",
        "",
        "*/lib/udev/rules.d/60-vren-label-printer.rules*",
        ":   Gives group lp and the user at the seat access to the printers' USB nodes.",
        "",
        "# SEE ALSO",
        "",
        "**vren-vprinter**(1), **vren-render**(1), **vren-printer-app**(1), **pkg-config**(1)",
    ]
    print("\n".join(out))


if __name__ == "__main__":
    main()
