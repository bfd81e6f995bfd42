#include "util/arraylib.h"

#include <gtest/gtest.h>

namespace zept {
namespace {

using Pieces = TWideStringArray;

TEST(Explode, SplitsAtEverySeparatorKeepingEmptyPieces) {
  EXPECT_EQ(Explode(u"a;b", u";"), (Pieces{u"a", u"b"}));
  EXPECT_EQ(Explode(u"a;;b", u";"), (Pieces{u"a", u"", u"b"}));
  EXPECT_EQ(Explode(u";a", u";"), (Pieces{u"", u"a"}));
  EXPECT_EQ(Explode(u"a;", u";"), (Pieces{u"a", u""}));
  EXPECT_EQ(Explode(u";", u";"), (Pieces{u"", u""}));
  EXPECT_EQ(Explode(u"abc", u";"), (Pieces{u"abc"}));
}

TEST(Explode, EmptyTextAndEmptySeparator) {
  EXPECT_TRUE(Explode(u"", u";").empty());
  EXPECT_EQ(Explode(u"a;b", u""), (Pieces{u"a;b"}));
}

TEST(Explode, MultiCharacterSeparatorsAndNonLatinText) {
  EXPECT_EQ(Explode(u"x<br>y<br>", u"<br>"), (Pieces{u"x", u"y", u""}));
  // Text keeps every character: no pass through the ANSI code page.
  EXPECT_EQ(Explode(u"Żółć|Ελλάδα", u"|"), (Pieces{u"Żółć", u"Ελλάδα"}));
}

TEST(Implode, JoinsWithSeparatorAndInvertsExplode) {
  EXPECT_EQ(Implode({}, u";"), u"");
  EXPECT_EQ(Implode({u"a"}, u";"), u"a");
  EXPECT_EQ(Implode({u"a", u"", u"b"}, u", "), u"a, , b");
  for (const WideString text : {u"a;;b", u";x;", u";"}) {
    EXPECT_EQ(Implode(Explode(text, u";"), u";"), text);
  }
}

TEST(ArrayDelete, RemovesOneElementAndIgnoresBadIndexes) {
  Pieces a{u"a", u"b", u"c"};
  ArrayDelete(a, 0);
  EXPECT_EQ(a, (Pieces{u"b", u"c"}));
  Pieces b{u"a", u"b", u"c"};
  ArrayDelete(b, 2);
  EXPECT_EQ(b, (Pieces{u"a", u"b"}));
  ArrayDelete(b, 5);
  ArrayDelete(b, -1);
  EXPECT_EQ(b, (Pieces{u"a", u"b"}));
  Pieces empty;
  ArrayDelete(empty, 0);
  EXPECT_TRUE(empty.empty());
}

TEST(ArrayIndexOf, FindsFirstExactMatch) {
  Pieces names;
  ArrayAdd(names, u"sLogin");
  ArrayAdd(names, u"x");
  ArrayAdd(names, u"sLogin");
  EXPECT_EQ(ArrayIndexOf(names, u"sLogin"), 0);
  EXPECT_EQ(ArrayIndexOf(names, u"x"), 1);
  EXPECT_EQ(ArrayIndexOf(names, u"slogin"), -1);
  EXPECT_EQ(ArrayIndexOf({}, u"x"), -1);
}

}  // namespace
}  // namespace zept
