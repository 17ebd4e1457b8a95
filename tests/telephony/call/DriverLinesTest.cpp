#include "platform/TagWriteLog.h"
#include "telephony/TagKvCard.h"
#include "tests/support/TestDir.h"

#include <gtest/gtest.h>

using namespace zz;

namespace {

class FakeCall : public TagKvCall {
public:
    FakeCall(int32_t index, int8_t kind) : index(index) { lineKind = kind; }
    int32_t index;
};

// A driver whose channels listed in `broken` make nothing.
class FakeCard : public TagKvCard {
public:
    FakeCard(int32_t count, std::string prefix, std::vector<int32_t> broken = {})
        : prefix_(std::move(prefix)), broken_(std::move(broken)) {
        lineCount = count;
    }
    int GetLineName(int32_t index, std::string& name) override {
        name.clear();
        if (index < 0 || index >= lineCount) return -1;
        name = prefix_ + std::to_string(index);
        return 0;
    }
    std::unique_ptr<TagTelLine> MakeLine(int32_t index, int32_t lineNo) override {
        if (index < 0 || index >= lineCount) return nullptr;
        for (int32_t b : broken_)
            if (b == index) return nullptr;
        return NewLine(index, lineNo, std::make_unique<FakeCall>(index, kLineSip));
    }

private:
    std::string prefix_;
    std::vector<int32_t> broken_;
};

} // namespace

TEST(DriverLines, LinesAreNumberedAcrossDriversAndNamedByTheirDriver) {
    FakeCard cards(4, "Trunk"), sip(2, "SIP:"), vir(2, "VirtualLine");
    std::vector<std::unique_ptr<TagTelLine>> table;
    EXPECT_EQ(MakeDriverLines(&cards, table), 4);
    EXPECT_EQ(MakeDriverLines(&sip, table), 2);
    EXPECT_EQ(MakeDriverLines(&vir, table), 2);
    ASSERT_EQ(table.size(), 8u);
    for (size_t n = 0; n < table.size(); ++n) {
        EXPECT_EQ(table[n]->lineNo, int32_t(n));
        EXPECT_EQ(table[n]->call->lineNo, int32_t(n));
        EXPECT_EQ(table[n]->call->Name(), table[n]->name);
        EXPECT_TRUE(table[n]->loaded);
        EXPECT_EQ(table[n]->program, nullptr);
    }
    EXPECT_STREQ(table[5]->name, "SIP:1");
    EXPECT_EQ(table[5]->card, &sip);
    EXPECT_EQ(table[5]->call->card, &sip);
    EXPECT_EQ(static_cast<FakeCall*>(table[5]->call.get())->index, 1);
    std::string name = "x";
    EXPECT_EQ(vir.GetLineName(2, name), -1);
    EXPECT_EQ(vir.MakeLine(2, 99), nullptr);
}

TEST(DriverLines, AChannelThatMakesNothingIsRefusedWithALogLine) {
    TestDir d("driverlines");
    TagWriteLog log("msg_log.txt", 0, true, true);
    SetRunLog(&log);
    FakeCard card(4, "Ch", {1});
    std::vector<std::unique_ptr<TagTelLine>> table;
    EXPECT_EQ(MakeDriverLines(&card, table), 3);
    SetRunLog(nullptr);
    ASSERT_EQ(table.size(), 3u);
    EXPECT_STREQ(table[1]->name, "Ch2"); // the broken channel takes no number
    EXPECT_EQ(table[1]->lineNo, 1);
    EXPECT_NE(TestDir::Read("msg_log.txt").find("MakeLine(1, 1): no line made, channel skipped.]"), std::string::npos);
    EXPECT_EQ(MakeDriverLines(nullptr, table), 0);
}

TEST(DriverLines, EntryNameIsCutToItsFieldAndTheCallKeeps80Bytes) {
    FakeCard card(1, std::string(100, 'n'));
    auto line = card.MakeLine(0, 0);
    ASSERT_TRUE(line);
    EXPECT_EQ(std::string(line->name).size(), 83u);
    EXPECT_EQ(line->call->Name().size(), 80u);
    line->SetName(nullptr); // ignored
    EXPECT_EQ(std::string(line->name).size(), 83u);
}
