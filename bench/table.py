"""The benchmarks' tables: one Markdown-style table, columns as wide as their widest cell."""


def print_table(head, rows):
    widths = [max(len(str(r[i])) for r in list(rows) + [head]) for i in range(len(head))]

    def line(r):
        return "| " + " | ".join(str(v).ljust(w) for v, w in zip(r, widths)) + " |"

    print(line(head))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print(line(r))
