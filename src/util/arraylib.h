#pragma once
// Growable arrays of wide strings and the splitting and joining of text.

#include <vector>

#include "platform/text.h"

namespace zept {

using TWideStringArray = std::vector<WideString>;

// Index of the first element equal to text (case-sensitive); -1 when none.
int ArrayIndexOf(const TWideStringArray& array, const WideString& text);
void ArrayAdd(TWideStringArray& array, const WideString& text);
// Removes the element at index; an index outside the array changes nothing.
void ArrayDelete(TWideStringArray& array, int index);

// Splits text at every occurrence of separator. An empty text gives no
// pieces; a text ending in separator gives a last, empty piece; an empty
// separator gives the whole text as one piece.
TWideStringArray Explode(const WideString& text, const WideString& separator);
WideString Implode(const TWideStringArray& array, const WideString& separator);

}  // namespace zept
