// The four ways a builtin reads an operand, and how it writes an out operand.
#include <gtest/gtest.h>

#include "builtins/BuiltinOper.h"

namespace zz {
namespace {

class Probe : public BuiltinP<3> {
public:
    using Base = BuiltinP<3>;
    using Base::Base;
};

TEST(OperandReaders, TextIsTheStoredTextAndNeverAConvertedNumber) {
    TagVar num, wasText, str;
    num.SetInt(42);
    wasText.SetStr("abc");
    wasText.SetInt(7);
    str.SetStrN("a\0b", 3);
    Probe p(&num, &wasText, &str);
    EXPECT_STREQ(p.Text(0), "");
    EXPECT_STREQ(p.Text(1), "abc");
    EXPECT_STREQ(p.Text(2), "a");
    EXPECT_EQ(p.Bytes(2), std::string_view("a\0b", 3));
    EXPECT_TRUE(p.Bytes(1).empty()); // an integer now, whatever text it held
}

TEST(OperandReaders, StoredIntegerIsTheWordAsItStands) {
    TagVar num, str, dbl;
    num.SetInt(-5);
    str.SetStr("12345");
    dbl.SetInt(9);
    dbl.SetFloat(2.75);
    Probe p(&num, &str, &dbl);
    EXPECT_EQ(p.StoredInt(0), -5);
    EXPECT_EQ(p.StoredInt(1), 6); // text length plus one
    EXPECT_EQ(p.StoredInt(2), 9); // a double leaves the integer word alone
}

TEST(OperandReaders, IntegerValueAndNumberConvert) {
    TagVar str, dbl, neg;
    str.SetStr("12ab");
    dbl.SetFloat(3.9);
    neg.SetStr("-2.5x");
    Probe p(&str, &dbl, &neg);
    EXPECT_EQ(p.IntVal(0), 12);
    EXPECT_EQ(p.IntVal(1), 3);
    EXPECT_EQ(p.IntVal(2), -2);
    EXPECT_DOUBLE_EQ(p.Number(0), 12.0);
    EXPECT_DOUBLE_EQ(p.Number(1), 3.9);
    EXPECT_DOUBLE_EQ(p.Number(2), -2.5);
}

TEST(OperandReaders, OutOperandsTakeTheWrittenTypeUnlessReadOnly) {
    TagVar out, text;
    TagNamedVar constant;
    constant.InitInt("", "CONST", 5, 1);
    Probe p(&out, &constant, &text);
    p.SetOutText(0, std::string_view("x\0y", 3));
    EXPECT_EQ(out.type, TagVar::kString);
    EXPECT_EQ(out.intVal, 4);
    EXPECT_EQ(StrBytes(out), 3u);
    p.SetOutInt(1, 9);
    EXPECT_EQ(constant.GetInt(), 5);
    p.SetOutFloat(2, 1.5);
    EXPECT_EQ(text.type, TagVar::kDouble);
    EXPECT_DOUBLE_EQ(text.GetFloat(), 1.5);
}

TEST(OperandReaders, MissingOperandsReadEmptyAndRefuseWrites) {
    Probe p(nullptr, nullptr, nullptr);
    EXPECT_EQ(p.OperandCount(), 3);
    EXPECT_STREQ(p.Text(0), "");
    EXPECT_EQ(p.IntVal(5), 0);
    EXPECT_EQ(p.StoredInt(-1), 0);
    p.SetOutInt(1, 3);
    p.SetOutText(7, "x");
    EXPECT_EQ(p.IntVal(1), 0);
    EXPECT_STREQ(p.Text(7), "");
    EXPECT_EQ(p.Program(), nullptr);
    EXPECT_EQ(p.Call(), nullptr);
}

} // namespace
} // namespace zz

namespace zz {
namespace {

struct Fixed : TagOper {
    int32_t Run() override { return 0; }
};

TEST(OperResult, IntegerBuiltinsSetRetValThenTheTarget) {
    TagVar ret, target;
    ret.SetStr("old");
    Fixed op;
    op.kind = 'g';
    StoreOperResult(op, 4, ret);
    EXPECT_EQ(ret.type, TagVar::kInt);
    EXPECT_EQ(ret.GetInt(), 4);
    op.SetTarget(&target, nullptr);
    StoreOperResult(op, -3, ret);
    EXPECT_EQ(target.GetInt(), -3);
    EXPECT_EQ(ret.GetInt(), -3);
}

TEST(OperResult, ValueBuiltinsCopyTheirTargetIntoRetVal) {
    TagVar ret, target;
    target.SetStr("abc");
    Fixed op;
    op.kind = 'v';
    op.SetTarget(&target, nullptr);
    StoreOperResult(op, 99, ret);
    EXPECT_STREQ(ret.Str(), "abc");
    // Without an assignment the compiler makes _retVal the target: it keeps the value.
    op.SetTarget(&ret, nullptr);
    StoreOperResult(op, 99, ret);
    EXPECT_STREQ(ret.Str(), "abc");
}

TEST(OperResult, CallsHandTheCalleeResultToAnElementTarget) {
    TagVar ret, arr, key;
    ret.SetStr("r");
    key.SetInt(2);
    Fixed op;
    op.kind = 'R';
    op.SetTarget(&arr, &key);
    StoreOperResult(op, -2, ret);
    EXPECT_STREQ(ret.Str(), "r");
    EXPECT_STREQ(arr.Find(key).Str(), "r");
    TagVar none;
    arr = none;
}

} // namespace
} // namespace zz
