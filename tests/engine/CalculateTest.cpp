// Calculation steps and the many-operand sum: the operator rules where they differ from C.
#include <gtest/gtest.h>

#include <climits>

#include "engine/TagCalculate.h"
#include "engine/TagExpre.h"
#include "engine/TagMapObject.h"
#include "tests/engine/Values.h"

using namespace zz;
using namespace zz::test;

namespace {

// Runs one two-operand step into a destination that starts as the given value.
TagVar Calc(TagVar l, char op, TagVar r, TagVar start = Int(-999)) {
    TagVar d = start;
    TagCalculate(&d, nullptr, &l, op, &r).Run();
    return d;
}

TagVar Unary(char op, TagVar l) {
    TagVar d;
    TagCalculate(&d, nullptr, &l, op).Run();
    return d;
}

void ExpectInt(const TagVar& v, int32_t i) {
    EXPECT_EQ(v.type, TagVar::kInt);
    EXPECT_EQ(v.intVal, i);
}

void ExpectDbl(const TagVar& v, double d) {
    EXPECT_EQ(v.type, TagVar::kDouble);
    EXPECT_DOUBLE_EQ(v.DblVal(), d);
}

} // namespace

TEST(TagCalculateDivide, TruncatesTowardZeroAndLeavesTheDestinationOnZeroDivisors) {
    ExpectInt(Calc(Int(7), '/', Int(2)), 3);
    ExpectInt(Calc(Int(-7), '/', Int(2)), -3);
    ExpectInt(Calc(Int(-7), '%', Int(2)), -1);
    ExpectDbl(Calc(Dbl(7.0), '/', Int(2)), 3.5);
    ExpectInt(Calc(Int(7), '/', Int(0)), -999);
    ExpectInt(Calc(Dbl(7.0), '/', Dbl(0.0005)), -999);
    ExpectInt(Calc(Dbl(7.0), '/', Dbl(-0.001)), -999);
    ExpectInt(Calc(Int(7), '%', Int(0)), -999);
    ExpectInt(Calc(Str("9"), '%', Str("4")), 1);
    ExpectInt(Calc(Str("8"), '/', Str("2")), -999); // two strings: no rule
}

TEST(TagCalculateDivide, MostNegativeByMinusOneWraps) {
    ExpectInt(Calc(Int(INT_MIN), '/', Int(-1)), INT_MIN);
    ExpectInt(Calc(Int(INT_MIN), '%', Int(-1)), 0);
    ExpectInt(Unary('-', Int(INT_MIN)), INT_MIN);
}

TEST(TagCalculateArith, OverflowWrapsAsThirtyTwoBitTwosComplement) {
    ExpectInt(Calc(Int(INT_MAX), '+', Int(1)), INT_MIN);
    ExpectInt(Calc(Int(INT_MIN), '-', Int(1)), INT_MAX);
    ExpectInt(Calc(Int(INT_MAX), '*', Int(2)), -2);
    ExpectInt(Calc(Int(1), '+', Str("2147483647")), INT_MIN);
}

TEST(TagCalculateArith, StringsJoinOnTheLeftAndCountByTheirPrefixElsewhere) {
    EXPECT_EQ(Bytes(Calc(Str("3"), '+', Int(4))), "34");
    ExpectInt(Calc(Int(4), '+', Str("3")), 7);
    ExpectInt(Calc(Str("3"), '-', Int(1)), 2);
    ExpectDbl(Calc(Str("10"), '*', Dbl(2.0)), 20.0);
    ExpectInt(Calc(Str("5"), '-', Str("3")), 2);
}

TEST(TagCalculateArith, StringRepetition) {
    EXPECT_EQ(Bytes(Calc(Str("ab"), '*', Int(3))), "ababab");
    EXPECT_EQ(Bytes(Calc(Str("ab"), '*', Int(-1))), "");
    EXPECT_EQ(Bytes(Calc(Str("ab"), '*', Int(0))), "");
    ExpectDbl(Calc(Str("ab"), '*', Dbl(2.0)), 0.0);
    EXPECT_EQ(Bytes(Calc(Str(std::string("a\0b", 3)), '*', Int(2))), std::string("a\0ba\0b", 6));
    // A size beyond what a value can count leaves the destination, with no huge allocation.
    ExpectInt(Calc(Str("ab"), '*', Int(INT_MAX)), -999);
    ExpectInt(Calc(Str("ab"), '*', Str("2")), -999);
    // The empty string any number of times is empty at once (it once looped the count through).
    EXPECT_EQ(Bytes(Calc(Str(""), '*', Int(INT_MAX))), "");
    TagVar s = Str("xy"), two = Int(2);
    TagCalculate(&s, nullptr, &s, '*', &two).Run();
    EXPECT_EQ(Bytes(s), "xyxy");
}

TEST(TagCalculateLogic, LogicalOperatorsConvertByNumericPrefix) {
    ExpectInt(Calc(Int(1), 'a', Str("0")), 0);
    ExpectInt(Calc(Str("abc"), 'o', Int(0)), 0);
    ExpectInt(Calc(Str("2x"), 'a', Int(1)), 1);
    ExpectInt(Unary('!', Str("")), 1);
    ExpectInt(Unary('~', Int(0)), -1);
    ExpectInt(Calc(Int(6), '&', Int(3)), 2);
    ExpectInt(Calc(Int(6), '|', Int(3)), 7);
    ExpectInt(Calc(Int(6), '^', Int(3)), 5);
}

TEST(TagCalculateLogic, ShiftCountsAreTakenModuloThirtyTwo) {
    ExpectInt(Calc(Int(1), 'L', Int(33)), 2);
    ExpectInt(Calc(Int(1), 'L', Int(31)), INT_MIN);
    ExpectInt(Calc(Int(-1), 'L', Int(1)), -2);
    ExpectInt(Calc(Int(-8), 'R', Int(1)), -4);
    ExpectInt(Calc(Int(-8), 'R', Int(32)), -8);
    ExpectInt(Calc(Int(1), 'L', Int(-1)), INT_MIN);
}

TEST(TagCalculateCompare, ComparisonsFollowTheValueRules) {
    ExpectInt(Calc(Str("5"), '=', Int(5)), 1);
    ExpectInt(Calc(Str("5"), '#', Int(5)), 0);
    ExpectInt(Calc(Str("b"), '>', Str("abc")), 1);
    ExpectInt(Calc(Int(3), 'g', Dbl(3.0)), 1);
    ExpectInt(Calc(Int(3), 'l', Int(2)), 0);
    ExpectInt(Calc(TagVar(), '=', Int(0)), 0);
}

TEST(TagCalculateUnary, MinusKeepsTheOperandsNumberKind) {
    ExpectDbl(Unary('-', Dbl(2.5)), -2.5);
    ExpectInt(Unary('-', Int(3)), -3);
    ExpectInt(Unary('-', Str("4")), -4);
    ExpectInt(Unary(0, Int(8)), 8);
}

TEST(TagCalculateObjects, DifferenceRemovalAndElementRead) {
    TagVar a, b;
    a[Int(1)] = Str("x");
    a[Int(2)] = Str("y");
    b[Int(2)] = Int(0);
    TagVar d = Calc(a, '-', b, TagVar());
    EXPECT_EQ(Text(d), "{\r\n1:\"x\"\r\n}");
    EXPECT_EQ(g_mapObjects.RefCount(d.ObjId()), 1);
    d = TagVar();
    // a >> 1 removes key 1 from a itself and copies a into the destination.
    TagVar dst, key = Int(1);
    TagCalculate(&dst, nullptr, &a, 'R', &key).Run();
    EXPECT_EQ(a.Len(), 1);
    EXPECT_EQ(dst.ObjId(), a.ObjId());
    EXPECT_EQ(g_mapObjects.RefCount(a.ObjId()), 2);
    // Reading a missing element gives the null value and creates nothing.
    TagVar r = Calc(a, '[', Int(7));
    EXPECT_EQ(r.type, TagVar::kEmpty);
    EXPECT_EQ(a.Len(), 1);
    r = Calc(a, '[', Int(2));
    EXPECT_EQ(Bytes(r), "y");
    for (TagVar* v : {&a, &b, &dst})
        *v = TagVar();
}

TEST(TagCalculateStore, SubscriptedDestinationAndReadOnlyDestination) {
    TagVar x = Int(5), sub = Str("k"), one = Int(1);
    TagCalculate(&x, &sub, &x, '+', &one).Run();
    EXPECT_EQ(x.type, TagVar::kObject);
    EXPECT_EQ(x.Find(Str("k")).intVal, 6);
    TagVar copyDest = Int(3);
    TagCalculate(&copyDest, &sub, &copyDest, 0).Run();
    EXPECT_EQ(copyDest.Find(Str("k")).intVal, 3);
    TagNamedVar ro;
    ro.InitInt("true", nullptr, 1, 1);
    TagCalculate(&ro, nullptr, &one, '+', &one).Run();
    EXPECT_EQ(ro.intVal, 1);
    x = TagVar();
    copyDest = TagVar();
}

TEST(TagCalculateStore, NumberStoredOverAnObjectReleasesIt) {
    TagVar x;
    x[Int(1)] = Int(1);
    int32_t id = x.ObjId();
    TagVar two = Int(2);
    TagCalculate(&x, nullptr, &two, '*', &two).Run();
    ExpectInt(x, 4);
    EXPECT_EQ(g_mapObjects.RefCount(id), -1);
}

TEST(TagCalculateLogic, BothSidesAlwaysRunAndAZeroDivisorIsHarmless) {
    // 0 && (10 / x > 1) with x = 0
    TagVar zero = Int(0), ten = Int(10), one = Int(1), x = Int(0);
    TagVar t0, t1, res = Int(-5);
    std::vector<TagCalculate> steps{TagCalculate(&t0, nullptr, &ten, '/', &x),
                                    TagCalculate(&t1, nullptr, &t0, '>', &one),
                                    TagCalculate(&res, nullptr, &zero, 'a', &t1)};
    TagExpre e(steps);
    EXPECT_EQ(e.Run(), 3);
    EXPECT_EQ(e.result, &res);
    EXPECT_EQ(t0.type, TagVar::kEmpty);
    ExpectInt(res, 0);
}

TEST(TagMulPlusSum, EqualsALeftToRightChainOfPlus) {
    TagVar x = Str("x"), one = Int(1), half = Dbl(2.5), y = Str("y"), a = Str("a"), two = Int(2), three = Int(3);
    TagVar d;
    TagVar* ops1[] = {&x, &one, &half, &y};
    EXPECT_EQ(TagMulPlus(&d, nullptr, 4, ops1).Run(), 0);
    EXPECT_EQ(Bytes(d), "x12.5y");
    TagVar* ops2[] = {&a, &one, &two, &three};
    TagMulPlus(&d, nullptr, 4, ops2).Run();
    EXPECT_EQ(Bytes(d), "a123");
    TagVar* ops3[] = {&one, &two, &three, &a};
    TagMulPlus(&d, nullptr, 4, ops3).Run();
    ExpectInt(d, 6);
    TagVar keep = Int(77);
    EXPECT_EQ(TagMulPlus(&keep, nullptr, 2, ops3).Run(), -1);
    ExpectInt(keep, 77);
    TagVar* many[50];
    for (auto& p : many)
        p = &one;
    TagMulPlus big(&d, nullptr, 50, many);
    EXPECT_EQ(big.count, 40);
    big.Run();
    ExpectInt(d, 40);
}

TEST(TagMulPlusSum, MergedObjectsAreCountedOnceAndIntermediatesFreed) {
    int live = g_mapObjects.Live();
    TagVar a, b, c, d;
    a[Int(1)] = Int(1);
    b[Int(2)] = Int(2);
    c[Int(3)] = Int(3);
    TagVar* ops[] = {&a, &b, &c};
    TagMulPlus(&d, nullptr, 3, ops).Run();
    EXPECT_EQ(d.Len(), 3);
    EXPECT_EQ(g_mapObjects.RefCount(d.ObjId()), 1);
    for (TagVar* v : {&a, &b, &c, &d})
        *v = TagVar();
    EXPECT_EQ(g_mapObjects.Live(), live);
}
