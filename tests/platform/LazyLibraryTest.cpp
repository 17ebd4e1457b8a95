#include "platform/LazyLibrary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

namespace zz {
namespace {

struct MathApi {
    ZZ_LAZY_FIELD(cos)
};

// A library that is missing, or that lacks a function, is not ready and says why; one that has them all is bound
// once, whichever thread asks first.
TEST(LazyLibrary, BindsOnceOrSaysWhyNot) {
    LazyLibrary missing("libzz-no-such-library.so.7");
    EXPECT_FALSE(missing.Ready([](LazyLibrary&) { return true; }));
    EXPECT_NE(missing.Error().find("libzz-no-such-library.so.7"), std::string::npos) << missing.Error();

    LazyLibrary lacking("libm.so.6");
    void (*fn)() = nullptr;
    EXPECT_FALSE(lacking.Ready([&](LazyLibrary& lib) { return lib.Get(fn, "zz_not_in_libm"); }));
    EXPECT_NE(lacking.Error().find("zz_not_in_libm"), std::string::npos) << lacking.Error();

    LazyLibrary libm("libm.so.6");
    MathApi api;
    int binds = 0;
    std::vector<std::thread> askers;
    for (int i = 0; i < 4; ++i)
        askers.emplace_back([&] {
            EXPECT_TRUE(libm.Ready([&](LazyLibrary& lib) {
                ++binds;
                return true ZZ_LAZY_BIND(cos);
            }));
        });
    for (std::thread& t : askers)
        t.join();
    EXPECT_EQ(binds, 1);
    EXPECT_TRUE(libm.Error().empty());
    ASSERT_NE(api.cos, nullptr);
    EXPECT_DOUBLE_EQ(api.cos(0.0), 1.0);
}

} // namespace
} // namespace zz
