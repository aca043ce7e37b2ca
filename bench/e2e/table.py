"""The one table `make bench` prints, and its JSON form."""

import json


class Row:
    """One figure of Roamnode against its reference. `met` is True or False for a goal, None
    when there is no goal or it could not be judged; `values` are the raw numbers for JSON."""

    def __init__(self, case, label, roamnode, reference="-", ratio=None, goal="", met=None,
                 values=None, note=""):
        self.case = case
        self.label = label
        self.roamnode = roamnode
        self.reference = reference
        self.ratio = ratio
        self.goal = goal
        self.met = met
        self.values = values or {}
        self.note = note

    def verdict(self):
        if not self.goal:
            return ""
        return {True: "met", False: "NOT MET", None: "n/a"}[self.met]

    def cells(self):
        ratio = "-" if self.ratio is None else f"{self.ratio:.2f}"
        return [f"{self.case}. {self.label}", self.roamnode, self.reference, ratio, self.goal,
                self.verdict()]

    def as_json(self):
        return {"case": self.case, "label": self.label, "roamnode": self.roamnode,
                "reference": self.reference, "ratio": self.ratio, "goal": self.goal,
                "met": self.met, "values": self.values, "note": self.note}


HEADER = ["case", "Roamnode", "reference", "ratio", "goal", "result"]


def render(rows):
    """A Markdown table (readable in a terminal, pasteable into the README), then the notes."""
    cells = [HEADER] + [row.cells() for row in rows]
    widths = [max(len(line[i]) for line in cells) for i in range(len(HEADER))]

    def line(values):
        return "| " + " | ".join(v.ljust(w) for v, w in zip(values, widths)) + " |"

    out = [line(HEADER), "|" + "|".join("-" * (w + 2) for w in widths) + "|"]
    out += [line(row.cells()) for row in rows]
    notes = [f"- {row.case}. {row.label}: {row.note}" for row in rows if row.note]
    if notes:
        out += ["", "Notes:"] + notes
    return "\n".join(out)


def summary(rows):
    judged = [row for row in rows if row.goal]
    met = sum(1 for row in judged if row.met)
    return f"goals met: {met} of {len(judged)}"


def write_json(path, rows, machine, seconds, raw):
    """The table, the machine it ran on, and every case's figures per repetition."""
    with open(path, "w", encoding="utf-8") as f:
        json.dump({"machine": machine, "seconds": round(seconds, 1),
                   "rows": [row.as_json() for row in rows], "raw": raw}, f, indent=2)
        f.write("\n")
