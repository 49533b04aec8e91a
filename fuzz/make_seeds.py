#!/usr/bin/env python3
"""Writes the seed corpora fuzz/corpus/fuzz_wildcard and fuzz/corpus/fuzz_intervals
in the input layouts that fuzz/wildcard_fuzz.cc and fuzz/intervals_fuzz.cc
read. Run from the repository root after changing a layout or a seed."""

import datetime
import os
import shutil
import struct

# (file name, pattern list, name)
WILDCARD = [
    ("all", b"*.*", b"readme"),
    ("all_among_others", b"*.*;*.log", b"readme"),
    ("all_after_space", b" *.*", b"readme"),
    ("star", b"*", b".profile"),
    ("empty_patterns", b";;", b"a.log"),
    ("empty_list", b"", b""),
    ("empty_name", b"*;?", b""),
    ("leading_space", b" *.log", b"a.log"),
    ("spaces_between", b"*.txt;  *.log", b"a.log"),
    ("trailing_space", b"*.log ", b"a.log "),
    ("suffix_case", b"*.TXT", b"notes.txt"),
    ("suffix_stars", b"**.LOS", b"x.lo\xc5\xbf"),  # long s upper-cases to S
    ("dotless_i", b"*ILE.TXT", b"f\xc4\xb1le.txt"),
    ("question_marks", b"??file04.txt", b"abfile04.txt"),
    ("stars_between", b"m*iss*ppi", b"mississippi"),
    ("many_stars", b"*a*a*a*a*a*a*a*a*a*a*a*a*b", b"a" * 200 + b"b"),
    ("cafe_utf8", b"CAF\xc3\x89.*", b"caf\xc3\xa9.log"),
    ("cafe_latin1", b"caf?.log", b"caf\xe9.log"),
    ("cafe_mixed", b"caf\xc3\xa9.log", b"caf\xe9.log"),
    ("greek_question", b"?.txt", b"\xce\xb1.txt"),
    ("cyrillic", b"\xd0\x96\xd0\xa3\xd0\xa0*",
     b"\xd0\xb6\xd1\x83\xd1\x80\xd0\xbd\xd0\xb0\xd0\xbb.log"),
    ("astral", b"?\xf0\x90\x90\x80", b"x\xf0\x90\x90\xa8"),  # Deseret
    ("lone_lead", b"*\xc3", b"a\xc3"),
    ("lone_continuation", b"?", b"\x80"),
    ("truncated_three", b"\xe2\x82?", b"\xe2\x82a"),
    ("overlong_slash", b"?", b"\xc0\xaf"),
    ("overlong_three", b"\xe0\x80\xaf", b"\xe0\x80\xaf"),
    ("surrogate", b"???", b"\xed\xa0\x80"),
    ("beyond_max", b"*", b"\xf4\x90\x80\x80"),
    ("byte_ff", b"\xff*", b"\xff\xfe"),
    ("brackets", b"a[1].log", b"a1.log"),
]

# (file name, first weekday, to mode, from, to, third time, later step, code)
EPOCH = datetime.datetime(1970, 1, 1)


def sec(*fields):
    return int((datetime.datetime(*fields) - EPOCH).total_seconds())


INTERVALS = [
    ("new_year_second", 0, 0, sec(2023, 12, 31, 23, 59, 59), sec(2024, 1, 1),
     sec(2023, 12, 31, 23, 59, 59), 1, b"yyyy"),
    ("new_year_monday", 1, 0, sec(2023, 12, 31, 12), sec(2024, 1, 1, 12),
     sec(2024, 1, 1), 86400, b"WW"),
    ("leap_day", 0, 0, sec(2024, 2, 28, 23), sec(2024, 2, 29, 1),
     sec(2024, 2, 29), 86400, b"d"),
    ("after_leap_day", 3, 0, sec(2024, 2, 29, 23, 59, 59), sec(2024, 3, 1),
     sec(2024, 2, 29, 12), 3600, b"m"),
    ("no_leap_1900", 2, 0, sec(1900, 2, 28), sec(1900, 3, 1),
     sec(1900, 2, 28, 12), 0, b"y"),
    ("leap_2000", 6, 0, sec(2000, 2, 28), sec(2000, 3, 1), sec(2000, 2, 29),
     86400, b"q"),
    ("quarter_end", 4, 0, sec(2024, 3, 31, 23, 59), sec(2024, 4, 1, 0, 1),
     sec(2024, 4, 1), 60, b"Q"),
    ("back_a_year", 5, 0, sec(2024, 6, 15, 8), sec(2023, 6, 15, 9),
     sec(2024, 1, 1), 7 * 86400, b"w"),
    ("earliest", 0, 0, sec(1601, 1, 1), sec(1601, 1, 1, 0, 0, 1),
     sec(1601, 1, 1), 59, b"s"),
    ("latest", 1, 0, sec(9999, 12, 31, 23, 59, 58), sec(9999, 12, 31, 23, 59, 59),
     sec(9999, 12, 31), 10, b"n"),
    ("whole_range", 0, 0, sec(1601, 1, 1), sec(9999, 12, 31, 23, 59, 59),
     sec(5000, 7, 1), 0, b"h"),
    ("before_1970", 2, 0, sec(1969, 12, 31, 23, 59, 59), sec(1970, 1, 1),
     sec(1969, 12, 31), 1, b"H"),
    # Civil times have no zone: the hour a clock skips or repeats is an
    # ordinary hour (United States changes of 2024).
    ("spring_forward", 0, 0, sec(2024, 3, 10, 1, 59, 59), sec(2024, 3, 10, 3),
     sec(2024, 3, 10, 2, 30), 3600, b"h"),
    ("fall_back", 0, 0, sec(2024, 11, 3, 0, 59, 59), sec(2024, 11, 3, 2),
     sec(2024, 11, 3, 1, 30), 3600, b"n"),
    ("short_span_mode", 3, 1, sec(2024, 12, 20), 0x1234567, sec(2025, 1, 1),
     100000, b"yyyY"),
    ("tiny_span_mode", 6, 2, sec(2024, 12, 31, 22), 0x89ABC, sec(2025, 1, 1),
     5000, b"ww"),
    ("bad_code", 0, 0, sec(2024, 1, 1), sec(2024, 1, 2), sec(2024, 1, 1), 0,
     b"www"),
]


def write(folder, name, data):
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    folder = "fuzz/corpus/fuzz_wildcard"
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, patterns, file_name in WILDCARD:
        write(folder, name, patterns + b"\0" + file_name)

    folder = "fuzz/corpus/fuzz_intervals"
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, weekday, mode, t_from, t_to, third, step, code in INTERVALS:
        control = mode * 7 + weekday
        data = struct.pack("<BqqqI", control, t_from, t_to, third, step) + code
        write(folder, name, data)


if __name__ == "__main__":
    main()
