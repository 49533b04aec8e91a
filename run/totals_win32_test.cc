// The run's totals against Windows' own number formatting, run on Windows
// or under Wine with the Windows platform tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/win32/text.h"
#include "platform/win32/win32_platform_internal.h"
#include "run/totals.h"

// The run formats its totals itself from the separators; they must come out
// as the locale's own number formatting would write them.
TEST(Win32Locale, TotalsMatchTheLocalesNumberFormat) {
  for (const wchar_t* name : {L"en-US", L"de-DE", L"fr-FR", L"en-GB"}) {
    const LocaleInfo locale = Win32LocaleInfo(name);
    wchar_t grouping[16];
    GetLocaleInfoEx(name, LOCALE_SGROUPING, grouping, 16);
    if (std::wstring(grouping) != L"3;0") continue;  // groups of three only

    wchar_t out[64];
    NUMBERFMTW count_format = {};
    wchar_t thousands[8], decimal[8];
    GetLocaleInfoEx(name, LOCALE_STHOUSAND, thousands, 8);
    GetLocaleInfoEx(name, LOCALE_SDECIMAL, decimal, 8);
    count_format.Grouping = 3;
    count_format.lpDecimalSep = decimal;
    count_format.lpThousandSep = thousands;
    count_format.LeadingZero = 1;
    count_format.NumDigits = 0;
    ASSERT_GT(GetNumberFormatEx(name, 0, L"1234567", &count_format, out, 64), 0);
    EXPECT_EQ(ToUtf8(out), FormatCount(1234567, locale)) << ToUtf8(name);

    ASSERT_GT(GetNumberFormatEx(name, 0, L"1234.5", nullptr, out, 64), 0);
    EXPECT_EQ(ToUtf8(out) + "  seconds", FormatRunTime(1234.5, locale))
        << ToUtf8(name);
  }
}
