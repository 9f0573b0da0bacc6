#include "platform/admission.h"

#include <gtest/gtest.h>

#include <vector>

namespace quarno::platform {
namespace {

asio::ip::address A(const char* text) { return asio::ip::make_address(text); }

TEST(AdmissionKeys, HostsAndNetworks) {
  struct Case {
    const char* peer;
    const char* address;
    const char* network;
  } cases[] = {
      {"192.0.2.7", "192.0.2.7", "192.0.2.0/24"},
      {"::ffff:192.0.2.7", "192.0.2.7", "192.0.2.0/24"},  // a dual-stack listener's IPv4 peer
      {"2001:db8:1:2:aaaa::1", "2001:0db8:0001:0002::/64", "2001:0db8:0001::/48"},
      {"2001:db8:1:2:bbbb::9", "2001:0db8:0001:0002::/64", "2001:0db8:0001::/48"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AddressKey(A(c.peer)), c.address) << c.peer;
    EXPECT_EQ(NetworkKey(A(c.peer)), c.network) << c.peer;
  }
}

// Each scope, when full, takes a place from its biggest holder (evictable
// connections only); without one the newcomer is refused.
TEST(Admission, FullScopesEvictTheBiggestHoldersIdlestOrRefuse) {
  auto admission = Admission::Create({.per_address = 3, .per_network = 5, .total = 8});
  std::vector<std::string> evicted;
  std::vector<Admission::Ticket> held;
  auto admit = [&](const char* peer, const char* name, bool evictable = true) {
    std::string tag = name;
    auto t = admission->Admit(A(peer), evictable ? std::function<void()>([&evicted, tag] {
      evicted.push_back(tag);
    })
                                                   : std::function<void()>());
    bool ok = static_cast<bool>(t);
    held.push_back(std::move(t));
    return ok;
  };

  // Per address: the fourth from one address evicts that address's idlest.
  ASSERT_TRUE(admit("10.0.0.1", "a1"));
  ASSERT_TRUE(admit("10.0.0.1", "a2"));
  ASSERT_TRUE(admit("10.0.0.1", "a3"));
  held[0].Touch();  // a1 made progress: a2 is now the idlest
  ASSERT_TRUE(admit("10.0.0.1", "a4"));
  EXPECT_EQ(evicted, std::vector<std::string>{"a2"});
  EXPECT_EQ(admission->CountAddress(A("10.0.0.1")), 3u);

  // Per /24: the biggest address of the network gives way, not the small one.
  ASSERT_TRUE(admit("10.0.0.2", "b1"));
  ASSERT_TRUE(admit("10.0.0.2", "b2"));  // network now 5
  ASSERT_TRUE(admit("10.0.0.3", "c1"));
  EXPECT_EQ(evicted.back(), "a3");
  EXPECT_EQ(admission->CountAddress(A("10.0.0.2")), 2u);

  // In total: the biggest holder anywhere gives way to a fresh network.
  ASSERT_TRUE(admit("10.0.9.1", "d1"));
  ASSERT_TRUE(admit("10.0.9.1", "d2"));
  ASSERT_TRUE(admit("10.0.9.2", "e1"));  // total 8
  ASSERT_TRUE(admit("10.7.7.7", "f1"));
  EXPECT_EQ(admission->Total(), 8u);
  EXPECT_EQ(evicted.size(), 3u);

  // A full address of connections that cannot be evicted refuses.
  auto strict = Admission::Create({.per_address = 1, .per_network = 4, .total = 4});
  auto first = strict->Admit(A("10.1.1.1"));
  EXPECT_TRUE(first);
  EXPECT_FALSE(strict->Admit(A("10.1.1.1")));
  EXPECT_TRUE(strict->Admit(A("10.1.1.2")));  // dropped at once: not held
  first.Release();
  EXPECT_TRUE(strict->Admit(A("10.1.1.1")));
}

TEST(Admission, ReleasedAndEvictedTicketsFreeTheirPlaceOnce) {
  auto admission = Admission::Create({.per_address = 1, .per_network = 8, .total = 8});
  Admission::Ticket old_one = admission->Admit(A("127.0.0.5"), [] {});
  Admission::Ticket new_one = admission->Admit(A("127.0.0.5"), [] {});  // evicts old_one
  ASSERT_TRUE(new_one);
  EXPECT_EQ(admission->Total(), 1u);
  old_one.Release();  // its place was given away already: nothing to free twice
  EXPECT_EQ(admission->Total(), 1u);
  Admission::Ticket moved = std::move(new_one);
  EXPECT_EQ(admission->Total(), 1u);
  moved = Admission::Ticket();
  EXPECT_EQ(admission->Total(), 0u);
  // A ticket that outlives its admission table releases nothing and does not crash.
  Admission::Ticket orphan = Admission::Create({})->Admit(A("127.0.0.6"));
  orphan.Touch();
}

}  // namespace
}  // namespace quarno::platform
