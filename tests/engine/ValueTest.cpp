// Script values: conversions, text forms, comparison and arithmetic where the language differs from C.
#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/TagTelBasic.h"
#include "engine/TagVar.h"
#include "tests/engine/Values.h"

using namespace zz;
using namespace zz::test;

TEST(TagVarConvert, StringToIntReadsDecimalPrefixLikeAtoi) {
    EXPECT_EQ(Str(" 12abc").GetInt(), 12);
    EXPECT_EQ(Str("\t-7").GetInt(), -7);
    EXPECT_EQ(Str("+5").GetInt(), 5);
    EXPECT_EQ(Str("abc").GetInt(), 0);
    EXPECT_EQ(Str("").GetInt(), 0);
    EXPECT_EQ(Str("1.9").GetInt(), 1);
    // Beyond 32 bits the digits wrap as two's complement instead of being undefined.
    EXPECT_EQ(Str("4294967297").GetInt(), 1);
    EXPECT_EQ(Str("2147483648").GetInt(), INT_MIN);
}

TEST(TagVarConvert, StringToDoubleReadsOnlyPlainDecimalForms) {
    EXPECT_DOUBLE_EQ(Str("1.5e2x").GetFloat(), 150.0);
    EXPECT_DOUBLE_EQ(Str(" -2.5").GetFloat(), -2.5);
    EXPECT_DOUBLE_EQ(Str(".5").GetFloat(), 0.5);
    EXPECT_DOUBLE_EQ(Str("5.").GetFloat(), 5.0);
    EXPECT_DOUBLE_EQ(Str("3e").GetFloat(), 3.0);
    // Words that strtod would read as special values stay 0.
    EXPECT_EQ(Str("nancy").GetFloat(), 0.0);
    EXPECT_EQ(Str("inf").GetFloat(), 0.0);
    EXPECT_EQ(Str("0x1A").GetFloat(), 0.0);
    EXPECT_TRUE(std::isinf(Str("1e999").GetFloat()));
    EXPECT_EQ(Str("1e-999").GetFloat(), 0.0);
}

TEST(TagVarConvert, DoubleToIntTruncatesAndWrapsWithoutUndefinedBehaviour) {
    EXPECT_EQ(Dbl(2.9).GetInt(), 2);
    EXPECT_EQ(Dbl(-2.9).GetInt(), -2);
    EXPECT_EQ(Dbl(4294967297.0).GetInt(), 1);
    EXPECT_EQ(Dbl(2147483648.0).GetInt(), INT_MIN);
    EXPECT_EQ(Dbl(-2147483649.0).GetInt(), INT_MAX);
    EXPECT_EQ(Dbl(NAN).GetInt(), 0);
    EXPECT_EQ(Dbl(INFINITY).GetInt(), 0);
    (void)Dbl(1e300).GetInt();
}

TEST(TagVarConvert, EmptyAndFunctionConvertTheirOwnFields) {
    TagVar e;
    EXPECT_EQ(e.GetInt(), 0);
    EXPECT_EQ(e.GetFloat(), 0.0);
    TagTelBasic unit("a.kvs", "Foo", nullptr);
    TagNamedVar f;
    f.InitFunc("f", nullptr, &unit, 0);
    EXPECT_EQ(f.ToString(), "function Foo");
    EXPECT_EQ(f.Len(), 4);
}

TEST(TagVarText, DoubleTextCutsTrailingZerosButKeepsThePoint) {
    EXPECT_EQ(Text(Dbl(3.0)), "3.");
    EXPECT_EQ(Text(Dbl(0.0)), "0.");
    EXPECT_EQ(Text(Dbl(-0.5)), "-0.5");
    EXPECT_EQ(Text(Dbl(1e-7)), "0.");
    EXPECT_EQ(Text(Dbl(1.5)), "1.5");
    EXPECT_EQ(Text(Dbl(100.25)), "100.25");
    EXPECT_EQ(Text(Dbl(1e20)), "100000000000000000000.");
    EXPECT_EQ(Text(Dbl(-1.7976931348623157e308)).size(), 311u);
    EXPECT_EQ(Text(Int(-42)), "-42");
    EXPECT_EQ(Text(TagVar()), "NULL");
}

// A locale with a decimal comma, built for the test (none may be installed), must not change number text.
TEST(TagVarText, NumberTextIgnoresTheLocale) {
    char dir[] = "/tmp/zzlocXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string d = dir;
    {
        std::ofstream src(d + "/comma.src");
        src << "LC_NUMERIC\ndecimal_point \",\"\nthousands_sep \".\"\ngrouping 3;3\nEND LC_NUMERIC\n";
    }
    std::string cmd = "localedef -c -i " + d + "/comma.src -f UTF-8 " + d + "/xx_XX.UTF-8 >/dev/null 2>&1";
    (void)std::system(cmd.c_str());
    const char* oldPath = std::getenv("LOCPATH");
    std::string savedPath = oldPath ? oldPath : "";
    setenv("LOCPATH", d.c_str(), 1);
    std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    bool comma = std::setlocale(LC_NUMERIC, "xx_XX.UTF-8") && std::localeconv()->decimal_point[0] == ',';
    if (comma) {
        EXPECT_EQ(Text(Dbl(1.5)), "1.5");
        EXPECT_DOUBLE_EQ(Str("2.25").GetFloat(), 2.25);
        EXPECT_EQ(Bytes(Str("x") + Dbl(0.5)), "x0.5");
    }
    std::setlocale(LC_NUMERIC, saved.c_str());
    if (oldPath)
        setenv("LOCPATH", savedPath.c_str(), 1);
    else
        unsetenv("LOCPATH");
    std::filesystem::remove_all(d);
    if (!comma) GTEST_SKIP() << "localedef could not build a locale with a decimal comma";
}

TEST(TagVarText, QuoteFlagWrapsStringsWithoutEscaping) {
    std::string out;
    Str("a\"b").ToString(out, 1);
    EXPECT_EQ(out, "\"a\"b\"");
    Int(5).ToString(out, 1);
    EXPECT_EQ(out, "5");
}

TEST(TagVarString, EmbeddedNulCountsInLengthAndJoinButNotInTextOrCompare) {
    TagVar v;
    v.SetStrN("ab\0cd", 5);
    EXPECT_EQ(v.Len(), 5);
    EXPECT_EQ(v.intVal, 6);
    TagVar joined = v + Str("x");
    EXPECT_EQ(Bytes(joined), std::string("ab\0cdx", 6));
    EXPECT_EQ(Text(v), "ab");
    EXPECT_EQ(TagVar::IsEqual(v, Str("ab")), 1);
    TagVar copy(v);
    EXPECT_EQ(Bytes(copy), std::string("ab\0cd", 5));
    TagVar assigned;
    assigned = v;
    EXPECT_EQ(Bytes(assigned), std::string("ab\0cd", 5));
}

TEST(TagVarCompare, EqualityFollowsTheLanguageRules) {
    EXPECT_EQ(TagVar::IsEqual(Str("5"), Int(5)), 1);
    EXPECT_EQ(TagVar::IsEqual(Str("5"), Dbl(5.0)), 1);
    EXPECT_EQ(TagVar::IsEqual(Str("abc"), Int(0)), 1);
    EXPECT_EQ(TagVar::IsEqual(Str(" 12abc"), Int(12)), 1);
    EXPECT_EQ(TagVar::IsEqual(TagVar(), Int(0)), 0);
    EXPECT_EQ(TagVar::IsEqual(TagVar(), TagVar()), 1);
    EXPECT_EQ(TagVar::IsEqual(Str("a"), Str("a")), 1);
    EXPECT_EQ(TagVar::IsEqual(Str("a"), Str("b")), 0);
}

TEST(TagVarCompare, OrderIsNumericWhenEitherIsANumberElseBytewiseUnsigned) {
    EXPECT_EQ(TagVar::IsGreater(Str("abc"), Str("abd")), 0);
    EXPECT_EQ(TagVar::IsGreater(Str("b"), Str("abc")), 1);
    EXPECT_EQ(TagVar::IsGreater(Str("10"), Int(9)), 1);
    EXPECT_EQ(TagVar::IsLess(Str("10"), Str("9")), 1);
    // GBK lead bytes sort above ASCII.
    EXPECT_EQ(TagVar::IsGreater(Str("\xB0\xA1"), Str("z")), 1);
    EXPECT_EQ(TagVar::IsLess(TagVar(), TagVar()), 0);
    EXPECT_EQ(TagVar::IsGreater(Dbl(1.5), Int(1)), 1);
}

TEST(TagVarArith, SumJoinsOnlyWhenTheStringIsOnTheLeft) {
    EXPECT_EQ(Bytes(Str("10") + Int(5)), "105");
    TagVar r = Int(5) + Str("10");
    EXPECT_EQ(r.type, TagVar::kInt);
    EXPECT_EQ(r.intVal, 15);
    r = Int(5) + Dbl(2.5);
    EXPECT_EQ(r.type, TagVar::kDouble);
    EXPECT_DOUBLE_EQ(r.DblVal(), 7.5);
    EXPECT_EQ(Bytes(Str("x") + Dbl(2.5)), "x2.5");
    EXPECT_EQ(Bytes(Str("x") + Dbl(2.0)), "x2.");
    EXPECT_EQ(Bytes(Str("x") + TagVar()), "x");
    EXPECT_DOUBLE_EQ((Dbl(2.0) + Str("1.5")).DblVal(), 3.5);
    EXPECT_EQ((Int(INT_MAX) + Int(1)).intVal, INT_MIN);
    EXPECT_EQ((TagVar() + Str("a")).type, TagVar::kEmpty);
}

TEST(TagVarArith, DifferenceAndProductConvertNoStrings) {
    TagVar r = Int(7) - Int(2);
    EXPECT_EQ(r.type, TagVar::kInt);
    EXPECT_EQ(r.intVal, 5);
    r = Int(7) * Dbl(0.5);
    EXPECT_DOUBLE_EQ(r.DblVal(), 3.5);
    r = Int(7) - Str("2");
    EXPECT_EQ(r.type, TagVar::kInt);
    EXPECT_EQ(r.intVal, 7);
    EXPECT_EQ(Bytes(Str("6") * Int(2)), "6");
    EXPECT_EQ((Int(INT_MIN) - Int(1)).intVal, INT_MAX);
    EXPECT_EQ((Int(65536) * Int(65536)).intVal, 0);
}

TEST(TagVarReadOnly, EveryWriteIsDropped) {
    TagNamedVar c;
    c.InitInt("true", "逻辑真", 1, 1);
    EXPECT_EQ(c.SetInt(5), 0);
    EXPECT_EQ(c.SetFloat(2.5), 0.0);
    EXPECT_EQ(c.SetStr("x"), nullptr);
    // An integer constant looks like a writable integer but for its flag: the one-word test must see the flag.
    c.SetIntReleasing(7);
    EXPECT_EQ(c.intVal, 1);
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(&c.type) - reinterpret_cast<const unsigned char*>(&c),
              static_cast<std::ptrdiff_t>(TagVar::kTypeOffset));
    EXPECT_EQ(&c.readOnly - &c.type, 1);
    c = Str("y");
    EXPECT_EQ(TagVar::Add(c, Int(1), Int(2)), -1);
    EXPECT_EQ(c.type, TagVar::kInt);
    EXPECT_EQ(c.intVal, 1);
    EXPECT_EQ(&c[Int(1)], &g_nullVar);
    EXPECT_EQ(c.type, TagVar::kInt);
    g_nullVar = Int(3);
    g_nullVar[Int(1)] = Int(2);
    EXPECT_EQ(g_nullVar.type, TagVar::kEmpty);
    EXPECT_EQ(g_nullVar.readOnly, 1);
}

TEST(TagVarLen, NonStringNonObjectValuesHaveLengthFour) {
    EXPECT_EQ(Int(123456).Len(), 4);
    EXPECT_EQ(Dbl(1.5).Len(), 4);
    EXPECT_EQ(TagVar().Len(), 4);
    EXPECT_EQ(Str("abc").Len(), 3);
}

TEST(TagVarAssign, KeepsNameNoteAndFlagOfTheTarget) {
    TagNamedVar t;
    t.InitInt("x", "note", 1, 0);
    TagNamedVar s;
    s.InitStr("y", "other", "hi", 0);
    t = s;
    EXPECT_EQ(t.Name(), "x");
    EXPECT_EQ(t.Note(), "note");
    EXPECT_EQ(Bytes(t), "hi");
    EXPECT_EQ(t.intVal, 3);
}

TEST(TagVarTypeName, DebuggerNamesOfTheTypes) {
    EXPECT_STREQ(TagVar::TypeName(1), "字符串");
    EXPECT_STREQ(TagVar::TypeName(4), "字典(数组)型");
    EXPECT_STREQ(TagVar::TypeName(9), "未知类型");
}
