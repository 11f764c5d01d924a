// The adapter's function registry.
#include "LogCapture.h"
#include "VelantoUtil/Adapter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

void handlerA(JsonMap*) {}
void handlerB(JsonMap*) {}
void handlerC(JsonMap*) {}

std::unique_ptr<AdapterMap> registry(const std::vector<std::string>& names,
                                     AdapterHandler handler = handlerA) {
    auto map = std::make_unique<AdapterMap>();
    *map = AdapterMap{};
    for (const auto& name : names)
        EnableAdapterFunction(map.get(), handler, name.c_str());
    sortAdapterMap(map.get());
    return map;
}

std::vector<std::string> names(const AdapterMap& map) {
    std::vector<std::string> out;
    for (int i = 0; i < map.count; ++i)
        out.push_back(map.entries[i].name);
    return out;
}

AdapterHandler find(AdapterMap* map, const std::string& name) {
    return BinarySearchVelantoAdapterMap(map, name.c_str(), 0, map->count - 1);
}

} // namespace

TEST(AdapterRegistry, SortOrderIgnoresCase) {
    auto map = registry({"CAPISign", "acceptPKCS7", "CAPI_PFXSign", "QvCAPISign", "Velanto_Release",
                         "GetErrorCode", "getX"});
    EXPECT_EQ(names(*map),
              (std::vector<std::string>{"acceptPKCS7", "CAPI_PFXSign", "CAPISign", "GetErrorCode",
                                        "getX", "QvCAPISign", "Velanto_Release"}));
    EXPECT_EQ(CompareAdapterFunctionName("CAPI_PFXSign", "CAPISign"), -1);
    EXPECT_EQ(CompareAdapterFunctionName("acceptPKCS7", "CAPISign"), -1);
    EXPECT_EQ(CompareAdapterFunctionName("abc", "ABC"), 0);
    EXPECT_EQ(CompareAdapterFunctionName("abcd", "ABC"), 1);
    EXPECT_EQ(CompareAdapterFunctionName(nullptr, "a"), 100);
    EXPECT_EQ(CompareAdapterFunctionName("a", nullptr), 100);
}

TEST(AdapterRegistry, DuplicatesAndLimitsAreRefused) {
    LogCapture log;
    auto map = registry({"SetCodePage"});
    EnableAdapterFunction(map.get(), handlerB, "setcodepage");
    EXPECT_EQ(map->count, 1);
    EXPECT_EQ(find(map.get(), "SETCODEPAGE"), handlerA); // the first registration stays
    EXPECT_TRUE(log.contains("[T][Normal] Enable adapter func: SetCodePage\n"));
    EXPECT_TRUE(log.contains("[T][Warning] Function name already exist: setcodepage\n"));

    EnableAdapterFunction(map.get(), handlerB, std::string(127, 'x').c_str());
    EXPECT_EQ(map->count, 1);
    EnableAdapterFunction(map.get(), handlerB, std::string(126, 'x').c_str());
    EXPECT_EQ(find(map.get(), std::string(126, 'X')), handlerB);

    auto full = std::make_unique<AdapterMap>();
    *full = AdapterMap{};
    for (int i = 0; i < kAdapterMapEntries; ++i)
        EnableAdapterFunction(full.get(), handlerA, ("f" + std::to_string(i)).c_str());
    EnableAdapterFunction(full.get(), handlerC, "oneMore");
    EXPECT_EQ(full->count, kAdapterMapEntries);
    EXPECT_TRUE(log.contains("[T][Warning] Adapter function table is full: oneMore\n"));

    EnableAdapterFunction(nullptr, handlerA, "x");
    EnableAdapterFunction(map.get(), handlerA, nullptr);
    EXPECT_TRUE(log.contains("Parameter inputAdapterMap is null at Adapter.cpp"));
    EXPECT_TRUE(log.contains("Parameter inputFunctionName is null at Adapter.cpp"));
}

TEST(AdapterRegistry, Lookups) {
    std::vector<std::string> all;
    for (int i = 0; i < 137; ++i)
        all.push_back("Function" + std::to_string(i * 7919 % 1000));
    auto map = registry(all, handlerB);
    for (const auto& name : all) {
        EXPECT_EQ(find(map.get(), name), handlerB) << name;
        std::string lower = name;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(find(map.get(), lower), handlerB) << lower;
    }
    EXPECT_EQ(find(map.get(), "Function"), nullptr);
    EXPECT_EQ(find(map.get(), "Function9999"), nullptr);
    EXPECT_EQ(find(map.get(), ""), nullptr);
    EXPECT_EQ(find(map.get(), std::string(300, 'F')), nullptr);

    auto one = registry({"QvCAPISign"}, handlerC);
    EXPECT_EQ(find(one.get(), "qvcapisign"), handlerC);
    EXPECT_EQ(find(one.get(), "QvCAPISignX"), nullptr);
    EXPECT_EQ(find(one.get(), "A"), nullptr);

    auto empty = registry({});
    EXPECT_EQ(find(empty.get(), "QvCAPISign"), nullptr);

    LogCapture log;
    EXPECT_EQ(BinarySearchVelantoAdapterMap(nullptr, "a", 0, 0), nullptr);
    EXPECT_EQ(BinarySearchVelantoAdapterMap(one.get(), nullptr, 0, 0), nullptr);
    EXPECT_TRUE(log.contains("[T][Warning] BinarySearchVelantoAdapterMap Compare_Same!\n"));
}
