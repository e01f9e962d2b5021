// A stream's list of parked pollers: a wake-up notifies every site once and
// empties the list, and a woken site's later leave neither disturbs the
// sites linked since nor unlinks anything twice.
#include <gtest/gtest.h>

#include <vector>

#include "HLS/internal/parking.h"

namespace qrn_test {
namespace {

using qrn::internal::link_parked_poller;
using qrn::internal::poll_site;
using qrn::internal::unlink_parked_poller;
using qrn::internal::wake_parked_pollers;

std::vector<const poll_site*>& notified() {
  static std::vector<const poll_site*> sites;
  return sites;
}

void note_notified(const poll_site& site) { notified().push_back(&site); }

// A list head and three sites whose waiters note their notification.
struct ParkedPollers : testing::Test {
  ParkedPollers() {
    notified().clear();
    for (poll_site* site : {&a, &b, &c}) {
      site->notify = &note_notified;
    }
  }
  poll_site* head = nullptr;
  poll_site a, b, c;
};

// The sites of `head`'s list, first to last, checking the back links.
std::vector<const poll_site*> listed(const poll_site* head) {
  std::vector<const poll_site*> sites;
  const poll_site* before = nullptr;
  for (const poll_site* site = head; site != nullptr; site = site->next) {
    EXPECT_EQ(site->prev, before);
    sites.push_back(site);
    before = site;
  }
  return sites;
}

TEST_F(ParkedPollers, AWakeUpNotifiesEachSiteOnceAndEmptiesTheList) {
  link_parked_poller(head, a);
  link_parked_poller(head, b);
  link_parked_poller(head, c);
  EXPECT_EQ(listed(head), (std::vector<const poll_site*>{&c, &b, &a}));

  wake_parked_pollers(head);
  EXPECT_EQ(head, nullptr);
  EXPECT_EQ(notified(), (std::vector<const poll_site*>{&c, &b, &a}));
  for (const poll_site* site : {&a, &b, &c}) {
    EXPECT_FALSE(site->linked);
    EXPECT_EQ(site->prev, nullptr);
    EXPECT_EQ(site->next, nullptr);
  }

  wake_parked_pollers(head);  // a later write finds no one to wake
  EXPECT_EQ(notified().size(), 3U);
}

TEST_F(ParkedPollers, AWokenSiteLeavesWithoutTouchingSitesLinkedSince) {
  poll_site& woken = a;
  poll_site& first = b;
  poll_site& second = c;
  link_parked_poller(head, woken);
  wake_parked_pollers(head);
  link_parked_poller(head, first);
  link_parked_poller(head, second);

  unlink_parked_poller(head, woken);  // its waiter runs again and leaves every list
  EXPECT_EQ(listed(head), (std::vector<const poll_site*>{&second, &first}));

  unlink_parked_poller(head, second);
  EXPECT_EQ(listed(head), (std::vector<const poll_site*>{&first}));
  unlink_parked_poller(head, second);  // leaving twice changes nothing
  EXPECT_EQ(listed(head), (std::vector<const poll_site*>{&first}));

  unlink_parked_poller(head, first);
  EXPECT_EQ(head, nullptr);
  EXPECT_EQ(notified(), (std::vector<const poll_site*>{&woken}));
}

}  // namespace
}  // namespace qrn_test
