// Script and voice caches: one read for all lines, reload rules, shared buffers across Clear, memory play.
#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "engine/TagMemKvs.h"
#include "engine/TagVocCache.h"

namespace fs = std::filesystem;

namespace zz {
namespace {

class CacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("zz_cache_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Write(const std::string& name, const std::string& bytes) {
        std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    fs::path dir;
};

// Moves the file's modification time well past the 2-second steps of the stamp.
void Age(const std::string& path, time_t seconds) {
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    struct timespec times[2] = {{st.st_mtime + seconds, 0}, {st.st_mtime + seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST_F(CacheTest, ScriptReadOnceForAllLinesUntilCleared) {
    TagMemKvs cache;
    std::string path = Write("Main.KVS", "a = 1\r\nb = 2\r\n");
    std::vector<std::shared_ptr<const std::string>> got(8);
    std::vector<std::thread> lines;
    for (size_t i = 0; i < got.size(); ++i) {
        lines.emplace_back([&, i] {
            int32_t len = 0;
            got[i] = cache.GetFileBuff(path.c_str(), &len, false, false, nullptr);
            EXPECT_EQ(len, 14);
        });
    }
    for (auto& t : lines)
        t.join();
    for (auto& g : got) {
        ASSERT_TRUE(g);
        EXPECT_EQ(g.get(), got[0].get()); // one read, one buffer
    }
    EXPECT_EQ(*got[0], "a = 1\r\nb = 2\r\n");
    EXPECT_EQ(got[0]->c_str()[14], '\0');

    // A changed file is not seen by ordinary loads until the cache is cleared.
    Write("Main.KVS", "changed\n");
    Age(path, 3600);
    int32_t len = 0;
    EXPECT_EQ(*cache.GetFileBuff(path.c_str(), &len, false, false, nullptr), "a = 1\r\nb = 2\r\n");
    cache.Clear();
    EXPECT_EQ(cache.Count(), 0u);
    EXPECT_EQ(*cache.GetFileBuff(path.c_str(), &len, false, false, nullptr), "changed\n");
    EXPECT_EQ(len, 8);
    EXPECT_EQ(*got[0], "a = 1\r\nb = 2\r\n"); // old holders keep their text
}

TEST_F(CacheTest, ScriptStampCheckRereadsChangedFile) {
    TagMemKvs cache;
    std::string path = Write("sub.kvs", "one\n");
    int32_t len = 0;
    auto first = cache.GetFileBuff(path.c_str(), &len, false, true, nullptr);
    ASSERT_TRUE(first);
    EXPECT_EQ(cache.GetFileBuff(path.c_str(), &len, false, true, nullptr).get(), first.get());

    Write("sub.kvs", "two two\n");
    Age(path, 7200);
    auto second = cache.GetFileBuff(path.c_str(), &len, false, true, nullptr);
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, "two two\n");
    EXPECT_EQ(len, 8);
    EXPECT_EQ(*first, "one\n");
    EXPECT_EQ(cache.Count(), 1u);

    // An entry read without the check carries stamp 1, so a checked read rereads it.
    TagMemKvs other;
    auto plain = other.GetFileBuff(path.c_str(), &len, false, false, nullptr);
    EXPECT_NE(other.GetFileBuff(path.c_str(), &len, false, true, nullptr).get(), plain.get());

    fs::remove(path);
    EXPECT_FALSE(cache.GetFileBuff(path.c_str(), &len, false, true, nullptr)); // no stamp, no text
    EXPECT_TRUE(cache.GetFileBuff(path.c_str(), &len, false, false, nullptr)); // still cached
}

TEST_F(CacheTest, ScriptBadInputs) {
    TagMemKvs cache;
    int32_t len = 7;
    bool transformed = true;
    EXPECT_FALSE(cache.GetFileBuff("", &len, false, false, &transformed));
    EXPECT_EQ(len, 0);
    EXPECT_FALSE(transformed);
    EXPECT_FALSE(cache.GetFileBuff(nullptr, &len, false, false, nullptr));
    EXPECT_FALSE(cache.GetFileBuff((dir / "none.kvs").c_str(), &len, false, false, nullptr));
    EXPECT_FALSE(cache.GetFileBuff(Write("empty.kvs", "").c_str(), &len, false, false, nullptr));
    EXPECT_EQ(cache.Count(), 0u);

    std::string stored = Write("enc.kvs", std::string("\x01\x02\x03\x04\x05xyz", 8));
    EXPECT_FALSE(cache.GetFileBuff(stored.c_str(), &len, false, false, &transformed));
    auto raw = cache.GetFileBuff(stored.c_str(), &len, true, false, &transformed);
    ASSERT_TRUE(raw);
    EXPECT_EQ(len, 8);
    EXPECT_FALSE(transformed);
}

TEST_F(CacheTest, ScriptNamesResolveWindowsFormAndCase) {
    TagMemKvs cache;
    Write("Lower.KVS", "x\n");
    std::string windowsForm = dir.string() + "\\lower.kvs";
    int32_t len = 0;
    auto text = cache.GetFileBuff(windowsForm.c_str(), &len, false, true, nullptr);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, "x\n");
}

TEST_F(CacheTest, BuffersSurviveConcurrentClear) {
    TagMemKvs scripts;
    TagMemVocs vocs;
    std::string text(64 * 1024, 'k');
    std::string spath = Write("big.kvs", text);
    std::string vpath = Write("big.vox", text);
    std::atomic<bool> stop{false};
    std::thread clearer([&] {
        while (!stop) {
            scripts.Clear();
            vocs.Clear();
        }
    });
    std::vector<std::thread> readers;
    for (int r = 0; r < 4; ++r) {
        readers.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                int32_t len = 0;
                auto buf = scripts.GetFileBuff(spath.c_str(), &len, false, false, nullptr);
                ASSERT_TRUE(buf);
                std::this_thread::yield();
                size_t ks = 0;
                for (int32_t j = 0; j < len; ++j)
                    ks += (*buf)[static_cast<size_t>(j)] == 'k';
                EXPECT_EQ(ks, text.size());
                vocs.Load(vpath.c_str(), 0);
                if (auto voc = vocs.Find(vpath.c_str())) {
                    std::this_thread::yield();
                    size_t kv = 0;
                    for (int32_t j = 0; j < voc->length; ++j)
                        kv += (*voc->data)[static_cast<size_t>(j)] == 'k';
                    EXPECT_EQ(kv, text.size());
                }
            }
        });
    }
    for (auto& t : readers)
        t.join();
    stop = true;
    clearer.join();
}

TEST_F(CacheTest, VoiceLoadUnloadClear) {
    TagMemVocs vocs;
    std::string a = Write("a.vox", std::string(5000, '\x55'));
    std::string b = Write("b.vox", "bb");
    EXPECT_EQ(vocs.Load(a.c_str(), 7), 5000);
    Write("a.vox", "short");
    EXPECT_EQ(vocs.Load(a.c_str(), 8), -2); // first copy kept
    auto voc = vocs.Find(a.c_str());
    ASSERT_TRUE(voc);
    EXPECT_EQ(voc->length, 5000);
    EXPECT_EQ(voc->data->size(), 5000u);
    EXPECT_EQ(voc->word, 7);

    EXPECT_EQ(vocs.Load("", 0), -1);
    EXPECT_EQ(vocs.Load(nullptr, 0), -1);
    EXPECT_EQ(vocs.Load((dir / "missing.vox").c_str(), 0), -2);
    EXPECT_EQ(vocs.Load(Write("empty.vox", "").c_str(), 0), -2);
    EXPECT_EQ(vocs.Count(), 1u); // neither kept

    EXPECT_EQ(vocs.Load(b.c_str(), 0), 2);
    vocs.Unload(a.c_str());
    vocs.Unload("not loaded");
    EXPECT_FALSE(vocs.Find(a.c_str()));
    EXPECT_EQ(voc->data->size(), 5000u); // a holder keeps its copy
    EXPECT_TRUE(vocs.Find(b.c_str()));
    vocs.Clear();
    EXPECT_EQ(vocs.Count(), 0u);
}

TEST(VoiceNames, HasFileExt) {
    EXPECT_EQ(HasFileExt("hello.wav"), 1);
    EXPECT_EQ(HasFileExt("c:\\voc.d\\hello"), 0);
    EXPECT_EQ(HasFileExt("voc.d/hello"), 0);
    EXPECT_EQ(HasFileExt("voc\\hello.vox"), 1);
    EXPECT_EQ(HasFileExt(""), 0);
    EXPECT_EQ(HasFileExt(nullptr), 0);
}

} // namespace
} // namespace zz
