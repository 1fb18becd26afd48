// The address lists and the Allow/Block rule on adapters given by the test.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostid/AllowRule.h"
#include "hostid/NetX.h"

namespace tandor {
namespace {

SystemAdapter Adapter(std::vector<std::uint8_t> mac, std::vector<std::string> ips,
                      int type = adaptertype::Ethernet) {
  return {"eth", "Test adapter", type, std::move(mac), std::move(ips)};
}
AdapterSource Machine(std::vector<SystemAdapter> adapters) {
  return [adapters] { return adapters; };
}

const std::vector<std::uint8_t> kMacA = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
const std::vector<std::uint8_t> kMacB = {0x00, 0x0C, 0x29, 0xAB, 0xCD, 0xEF};

// Adapters without a hardware address or IP add nothing to the lists.
TEST(NetX, JoinsAddressListsWithTheSeparator) {
  const AdapterSource machine = Machine({Adapter(kMacA, {"192.168.0.5", "fe80::1"}),
                                         Adapter({}, {"10.0.0.7"}), Adapter(kMacB, {""})});
  EXPECT_EQ(GetMacAddressList(',', machine), "00-1A-2B-3C-4D-5E,00-0C-29-AB-CD-EF");
  EXPECT_EQ(GetIpAddressList(';', machine), "192.168.0.5;fe80::1;10.0.0.7");
}

TEST(AllowRule, DecidesByTheMachinesAddresses) {
  const std::vector<SystemAdapter> one = {Adapter(kMacA, {"192.168.0.5"})};
  const std::vector<SystemAdapter> two = {Adapter(kMacB, {}), Adapter(kMacA, {})}, none;
  const struct {
    const char* Label;
    std::string Allow, Block;
    const std::vector<SystemAdapter>& Adapters;
    bool Result;
  } cases[] = {
      // clang-format off
      {"no lists", "", "", one, true},
      {"both lists, this machine in neither", "AA-BB-CC-DD-EE-FF", "11-22-33-44-55-66", one, false},
      {"both lists, this machine in allow", "00-1A-2B-3C-4D-5E", "11-22-33-44-55-66", one, false},
      {"allowed inside other text", "PC7=00-1A-2B-3C-4D-5E; PC8=rest", "", one, true},
      {"colons never match", "00:1A:2B:3C:4D:5E", "", one, false},
      {"second adapter allowed", "00-1A-2B-3C-4D-5E", "", two, true},
      {"blocked in lower case", "", "x 00-1a-2b-3c-4d-5e y", one, false},
      {"allow-only, no adapters", "00-1A-2B-3C-4D-5E", "", none, false},
      {"block-only, no adapters", "", "00-1A-2B-3C-4D-5E", none, true},
      // clang-format on
  };
  for (const auto& c : cases)
    EXPECT_EQ(Allow(c.Allow, c.Block, Machine(c.Adapters)), c.Result) << c.Label;
}

}  // namespace
}  // namespace tandor
