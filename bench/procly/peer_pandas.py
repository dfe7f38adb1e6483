#!/usr/bin/env python3
"""The procly pass with pandas, phase by phase, for the benchmark:
peer_pandas.py <system.csv> <customer.xlsx> <out.xlsx> [--no-write]
Reads what the tool reads (the CSV, the customer workbook's active sheet), rewrites the dates,
joins on PO and QTY, sorts both ways, sums by month and writes the two sheets; prints one line
per phase with its seconds."""
import sys
import time

import pandas as pd


def main():
    system_csv, customer_xlsx, out = sys.argv[1:4]
    write = "--no-write" not in sys.argv
    start = time.perf_counter()

    def lap(name):
        nonlocal start
        now = time.perf_counter()
        print("%s %.6f" % (name, now - start), flush=True)
        start = now

    sys_df = pd.read_csv(system_csv, usecols=[7, 8, 9, 10, 11, 16], encoding="utf-8-sig",
                         header=0)
    sys_df.columns = ["PO", "SO", "SO_POS", "SO_SUFFIX", "QTY", "RDD"]
    lap("read_system")
    cus_df = pd.read_excel(customer_xlsx, usecols="F,O,R", skiprows=1, header=0)
    cus_df.columns = ["PO", "QTY", "RDD"]
    lap("read_customer")
    for df in (sys_df, cus_df):
        df.loc[:, "RDD"] = pd.to_datetime(df["RDD"], errors="coerce").dt.strftime("%Y-%m-%d")
    lap("dates")
    result = pd.merge(sys_df, cus_df, on=["PO", "QTY"], how="inner", suffixes=("_SYS", "_CUST"))
    lap("join")
    result = result.rename(columns={"RDD_SYS": "SYSTEM_RDD", "RDD_CUST": "CUSTOMER_RDD"})
    result = result[["PO", "SO", "SO_POS", "SO_SUFFIX", "QTY", "SYSTEM_RDD", "CUSTOMER_RDD"]]
    result = result.sort_values(by=["PO", "SO_POS", "QTY"])
    by_rdd = result.sort_values(by=["SYSTEM_RDD", "PO"])
    lap("sorts")
    sys_month = pd.to_datetime(result["SYSTEM_RDD"], errors="coerce").dt.to_period("M")
    cus_month = pd.to_datetime(result["CUSTOMER_RDD"], errors="coerce").dt.to_period("M")
    summary = pd.DataFrame({"SYS_RDD": result.groupby(sys_month)["QTY"].sum(),
                            "CUS_RDD": result.groupby(cus_month)["QTY"].sum()}).T
    summary = summary.sort_index(axis=1)
    summary.columns = [p.strftime("%y-%b") for p in summary.columns]
    summary = summary.fillna(0)
    lap("summary")
    if write:
        with pd.ExcelWriter(out) as writer:
            result.to_excel(writer, sheet_name="byPO", index=False)
            summary.to_excel(writer, sheet_name="byPO", startcol=len(result.columns) + 2)
            by_rdd.to_excel(writer, sheet_name="byRDD_SYS", index=False)
        lap("write")
    print("matched %d" % len(result))


if __name__ == "__main__":
    main()
