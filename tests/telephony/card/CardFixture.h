#pragma once
// A card driver on a simulated card in a folder of its own: channel 0 an analogue trunk, 1-7 ISUP trunks, 8-9 fax
// channels, 10 an internal extension. Protocol.ini and Card.ini are read from the working directory, which each
// test sets to its folder.
#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "platform/FileHandle.h"
#include "telephony/card/CardSim.h"
#include "telephony/card/CardSimChan.h"
#include "telephony/card/TagShCall.h"
#include "telephony/card/TagShDrive.h"

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace zz::test {

inline void WriteText(const std::string& path, const std::string& text) {
    FileHandle f = FileHandle::Open(path.c_str(), "w");
    std::fputs(text.c_str(), f.get());
}

// A one-page bilevel fax page, G3 coded.
inline void WriteTiff(const std::string& path) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    const uint32_t w = 1728, h = 40;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
    std::vector<uint8_t> row(w / 8, 0);
    for (uint32_t y = 0; y < h; ++y) {
        std::fill(row.begin(), row.end(), y % 8 < 4 ? 0xF0 : 0x00);
        TIFFWriteScanline(t, row.data(), y, 0);
    }
    TIFFClose(t);
}

class CardTest : public ::testing::Test {
protected:
    static constexpr int32_t kAnalog = 0, kIsup = 1, kFax = 8, kExt = 10;

    void SetUp() override {
        dir_ =
            std::filesystem::temp_directory_path() / ("zzcard_" + std::to_string(getpid()) + "_" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        _isConfEnable = true;
        CardCfg().makeSipConf = true;
        CardCfg().callerIsNational = false;
    }
    void TearDown() override {
        lines_.clear();
        drive_.reset();
        std::filesystem::current_path(old_);
        std::filesystem::remove_all(dir_);
        _isConfEnable = true;
    }

    // Starts the driver on the simulated card; extra lines go into the card's configuration.
    void Start(const std::string& extra = "", const std::string& types = "0,11*7,5*2,2") {
        lines_.clear();
        drive_.reset();
        WriteText(Path("ShConfig.ini"), "ChannelTypes=" + types + "\nControlPort=-1\nFaxPageMs=2000\n" + extra);
        auto sim = std::make_unique<CardSim>();
        sim_ = sim.get();
        drive_ = std::make_unique<TagShDrive>(std::move(sim), dir_.string() + "/");
        ASSERT_EQ(drive_->status, 0);
        for (int32_t ch = 0; ch < drive_->lineCount; ++ch)
            lines_.push_back(drive_->MakeLine(ch, ch));
    }
    TagShCall& Line(int32_t ch) { return *static_cast<TagShCall*>(lines_[size_t(ch)]->call.get()); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    // A voice file of ms milliseconds of loud A-law bytes.
    std::string Voice(const std::string& name, uint32_t ms) {
        WriteAlawWav(Path(name), std::vector<uint8_t>(MsToBytes(ms), 0xAA));
        return Path(name);
    }
    // Journal lines that start with the text.
    std::vector<std::string> Calls(const std::string& prefix) {
        std::vector<std::string> out;
        for (const std::string& j : sim_->Journal())
            if (j.rfind(prefix, 0) == 0) out.push_back(j);
        return out;
    }
    // Runs fn on a thread of its own and returns once that line waits on the clock (manual clock).
    template <class Fn> std::thread RunWaiting(VirtualClock& clock, Fn fn) {
        std::thread t(fn);
        while (clock.Waiters() == 0)
            std::this_thread::yield();
        return t;
    }

    std::filesystem::path dir_, old_;
    CardSim* sim_ = nullptr;
    std::unique_ptr<TagShDrive> drive_;
    std::vector<std::unique_ptr<TagTelLine>> lines_;
};

inline std::string Hex(const std::vector<uint8_t>& b) {
    std::string s;
    char x[4];
    for (uint8_t v : b) {
        std::snprintf(x, sizeof x, "%02X", v);
        s += x;
    }
    return s;
}

} // namespace zz::test
