// A registry key's subkeys: found by name in any letter case, and listed by
// index in sorted order however the indexes are asked for (one after the
// other, backwards, jumping) and whatever comes and goes between two asks.
// The key remembers where the last index ended; these tests hold it to a
// plain sorted map.
#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "sim/core/text.h"
#include "sim/registry/registry.h"

namespace {

// The subkeys the key should have, by folded name, with the name as made.
using Model = std::map<std::u16string, std::u16string>;

std::u16string RandomName(std::mt19937& random) {
  // Few distinct names, in mixed case, so that lookups hit and miss and
  // names collide ignoring case.
  static const char16_t kLetters[] = u"aAbBcC\u00e9\u00c9";
  std::u16string name;
  const std::size_t length = 1 + random() % 3;
  for (std::size_t i = 0; i < length; ++i) {
    name += kLetters[random() % (sizeof(kLetters) / sizeof(kLetters[0]) - 1)];
  }
  return name;
}

std::u16string AtIndex(const Model& model, std::size_t index) {
  auto it = model.begin();
  std::advance(it, static_cast<std::ptrdiff_t>(index));
  return it->second;
}

TEST(RegistryKeyTest, IndexAndNameAgreeWithASortedMapThroughRandomChanges) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 random(seed);
    sim::RegistryKey key(u"key");
    Model model;
    std::size_t index = 0;
    for (int step = 0; step < 400; ++step) {
      const std::u16string name = RandomName(random);
      switch (random() % 6) {
        case 0: {
          const std::shared_ptr<sim::RegistryKey> made = key.CreateSubkey(name);
          // An existing name keeps the letter case it was made with.
          model.emplace(sim::Fold(name), name);
          EXPECT_EQ(made->name(), model.at(sim::Fold(name)));
          break;
        }
        case 1:
          EXPECT_EQ(key.RemoveSubkey(name), model.erase(sim::Fold(name)) == 1) << "seed " << seed;
          break;
        case 2: {
          const std::shared_ptr<sim::RegistryKey> found = key.FindSubkey(name);
          const auto expected = model.find(sim::Fold(name));
          ASSERT_EQ(found != nullptr, expected != model.end()) << "seed " << seed;
          if (found) {
            EXPECT_EQ(found->name(), expected->second);
          }
          break;
        }
        default:
          // Mostly the next or the previous index, sometimes a jump or one
          // past the end.
          switch (random() % 4) {
            case 0:
              index = random() % (model.size() + 2);
              break;
            case 1:
              index = index > 0 ? index - 1 : 0;
              break;
            default:
              ++index;
          }
          if (index >= model.size()) {
            EXPECT_EQ(key.SubkeyAt(index), nullptr) << "seed " << seed;
            index = 0;
          } else {
            const std::shared_ptr<sim::RegistryKey> at = key.SubkeyAt(index);
            ASSERT_NE(at, nullptr) << "seed " << seed << ", index " << index;
            EXPECT_EQ(at->name(), AtIndex(model, index)) << "seed " << seed << ", index " << index;
          }
      }
      ASSERT_EQ(key.SubkeyCount(), model.size()) << "seed " << seed;
    }
  }
}

TEST(RegistryKeyTest, RemovedSubkeyIsMarkedDeletedWithEverythingBelowIt) {
  sim::RegistryKey key(u"key");
  const std::shared_ptr<sim::RegistryKey> child = key.CreateSubkey(u"Child");
  const std::shared_ptr<sim::RegistryKey> grandchild = child->CreateSubkey(u"Grandchild");
  const std::shared_ptr<sim::RegistryKey> sibling = key.CreateSubkey(u"Sibling");

  EXPECT_TRUE(key.RemoveSubkey(u"CHILD"));

  EXPECT_TRUE(child->deleted());
  EXPECT_TRUE(grandchild->deleted());
  EXPECT_FALSE(sibling->deleted());
  EXPECT_EQ(key.FindSubkey(u"child"), nullptr);
  EXPECT_EQ(key.SubkeyAt(0), sibling);
  // A new subkey of the same name is a new key.
  EXPECT_NE(key.CreateSubkey(u"child"), child);
}

}  // namespace
