"""Comparing the builds of a case: with what the case expects and with each
other, and what each build did, for a failure's report."""

import difflib

from rig_case import NATIVE
from rig_drives import apply_mask, describe_tree
from rig_text import expected_text, wine_console_text


def diff_lines(a, b, name_a, name_b):
    return list(difflib.unified_diff(a, b, name_a, name_b, lineterm="", n=2))


def _show(text):
    return [repr(line) for line in text.splitlines(keepends=True)]


def shows_true_text(case, build):
    """Whether the build's output keeps every character: the native build's
    always, the .exe's on a console."""
    return build == NATIVE or case.console


def true_text_of(text, build):
    """The true text as the build shows it: Wine's console gives a character
    beyond the BMP as two U+FFFD."""
    return text if build == NATIVE else wine_console_text(text)


def verify(case, results):
    """Problems found in the results of all builds (empty when the case passes)."""
    problems = []
    want = expected_text(case)
    for r in results:
        tag = f"[{r.build}]"
        for note in r.notes:
            problems.append(f"{tag} {note}")
        if r.exit_code is None:
            continue
        if case.exit_code is not None and r.exit_code != case.exit_code:
            problems.append(f"{tag} exit code {r.exit_code}, expected {case.exit_code}")
        if want is not None and r.text != want:
            problems.append(f"{tag} stdout (through the code page) differs from the expected text:")
            problems.extend("    " + l for l in diff_lines(_show(want), _show(r.text), "expected", r.build))
        if case.shown is not None and shows_true_text(case, r.build):
            wanted = true_text_of(case.shown, r.build)
            if r.shown != wanted:
                problems.append(f"{tag} shows other characters than expected:")
                problems.extend("    " + l for l in diff_lines(_show(wanted), _show(r.shown), "expected", r.build))
        if r.build == NATIVE and r.stderr and not case.data:
            problems.append(f"{tag} wrote to stderr: {r.stderr[:400]!r}")
        if case.unchanged:
            for letter in r.before:
                if r.before[letter] != r.after[letter]:
                    problems.append(f"{tag} drive {letter}: changed:")
                    problems.extend("    " + l for l in diff_lines(
                        describe_tree(r.before[letter]), describe_tree(r.after[letter]),
                        "before", "after"))
        if case.check is not None:
            try:
                case.check(r)
            except AssertionError as e:
                problems.append(f"{tag} check failed: {e}")

    # Every build against the first one: as text through the code page, and
    # where both keep every character, as that text itself.
    ref = results[0]
    masked = case.output_mask or (lambda text: text)
    for r in results[1:]:
        if r.exit_code != ref.exit_code:
            problems.append(f"[{r.build}] exit code {r.exit_code} but [{ref.build}] gave {ref.exit_code}")
        if masked(r.text) != masked(ref.text):
            problems.append(f"[{r.build}] stdout differs from [{ref.build}] (through the code page):")
            problems.extend("    " + l for l in diff_lines(_show(masked(ref.text)), _show(masked(r.text)),
                                                          ref.build, r.build))
        elif shows_true_text(case, ref.build) and shows_true_text(case, r.build):
            a, b = masked(true_text_of(ref.shown, r.build)), masked(true_text_of(r.shown, ref.build))
            if a != b:
                problems.append(f"[{r.build}] shows other characters than [{ref.build}]:")
                problems.extend("    " + l for l in diff_lines(_show(a), _show(b), ref.build, r.build))
        for letter in ref.after:
            a = apply_mask(ref.after[letter], case.mask)
            b = apply_mask(r.after[letter], case.mask)
            if a != b:
                problems.append(f"[{r.build}] drive {letter}: left other files than [{ref.build}]:")
                problems.extend("    " + l for l in diff_lines(describe_tree(a), describe_tree(b),
                                                              ref.build, r.build))
    return problems


def describe_results(results, limit=40):
    """Each build's exit code and output as it showed it."""
    lines = []
    seen = {}
    for r in results:
        code = "timeout" if r.exit_code is None else r.exit_code
        same = seen.get(r.shown)
        tail = f" same as [{same}]" if same else ":"
        lines.append(f"  [{r.build}] exit {code}, {r.seconds:.2f}s, stdout{tail}")
        if not same:
            seen[r.shown] = r.build
            out = _show(r.shown)
            lines.extend("    " + l for l in out[:limit])
            if len(out) > limit:
                lines.append(f"    ... {len(out) - limit} more lines")
        if r.stderr:
            lines.append(f"    stderr: {r.stderr[:400]!r}")
    return lines
