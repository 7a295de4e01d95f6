// SPDX-License-Identifier: GPL-3.0-or-later
// One instance per profile: a second claim of the same profile reaches the
// first, which is asked to come forward; another profile is its own owner.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/instance.h"

namespace {

struct TempHome {
  std::string dir;
  TempHome() {
    char tmpl[] = "/tmp/ordika-instance-XXXXXX";
    dir = mkdtemp(tmpl);
  }
  ~TempHome() { std::system(("rm -rf '" + dir + "'").c_str()); }
};

void count_raise(void* data) { ++*static_cast<int*>(data); }

// Claims `dir` on another thread while this one runs the main loop, as the
// owner's window would.
int claim_from_thread(const std::string& dir) {
  std::atomic<int> result{-100};
  std::thread t([&] {
    InstanceLock second;
    result = instance_claim(dir, &second, nullptr, nullptr);
    instance_release(&second);
  });
  while (result == -100) g_main_context_iteration(nullptr, FALSE), usleep(1000);
  t.join();
  return result;
}

TEST(Instance, SecondStartOfTheSameProfileRaisesTheFirst) {
  TempHome home;
  std::string profile = home.dir + "/.config/Ordika";
  int raised = 0;
  InstanceLock first;
  ASSERT_EQ(instance_claim(profile, &first, count_raise, &raised), INSTANCE_OWNER);
  EXPECT_EQ(access((profile + "/ordika.sock").c_str(), F_OK), 0);

  EXPECT_EQ(claim_from_thread(profile), INSTANCE_RAISED);
  EXPECT_EQ(raised, 1);

  // Another profile runs beside it.
  InstanceLock other;
  EXPECT_EQ(instance_claim(home.dir + "/.config/Work", &other, nullptr, nullptr), INSTANCE_OWNER);
  instance_release(&other);
  EXPECT_EQ(raised, 1);

  // Once the first ends, the profile can be claimed again.
  instance_release(&first);
  EXPECT_NE(access((profile + "/ordika.sock").c_str(), F_OK), 0);
  InstanceLock again;
  EXPECT_EQ(instance_claim(profile, &again, nullptr, nullptr), INSTANCE_OWNER);
  instance_release(&again);
}

TEST(Instance, StaleSocketAndSilentCallersDoNotBlock) {
  TempHome home;
  std::string profile = home.dir + "/.config/P";
  InstanceLock first;
  ASSERT_EQ(instance_claim(profile, &first, nullptr, nullptr), INSTANCE_OWNER);
  instance_release(&first);
  // A socket file left by a crashed run is replaced.
  ASSERT_EQ(system(("touch '" + profile + "/ordika.sock'").c_str()), 0);
  int raised = 0;
  ASSERT_EQ(instance_claim(profile, &first, count_raise, &raised), INSTANCE_OWNER);
  EXPECT_EQ(claim_from_thread(profile), INSTANCE_RAISED);
  EXPECT_EQ(raised, 1);
  instance_release(&first);
}

TEST(Instance, ProfilePathThatIsAFileIsAnError) {
  TempHome home;
  ASSERT_EQ(system(("mkdir -p '" + home.dir + "/.config' && touch '" + home.dir + "/.config/F'").c_str()), 0);
  InstanceLock lock;
  EXPECT_EQ(instance_claim(home.dir + "/.config/F", &lock, nullptr, nullptr), INSTANCE_ERROR);
}

}  // namespace
