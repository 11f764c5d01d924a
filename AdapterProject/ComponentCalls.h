// Reading parameters for, and answers from, the signing component.
#pragma once

#include "Component/Com.h"

#include <string>

struct JsonMap;

// The decoded value as a BSTR; null when absent. A failed allocation raises a ComError.
BSTR getJsonMapWideString(JsonMap* map, const char* key);
// The decoded value as a VT_BSTR VARIANT through the narrow system code page; an absent key
// gives a VT_BSTR VARIANT holding a null string.
VARIANT getJsonMapTextVariant(JsonMap* map, const char* key);
// VT_BOOL as "1"/"0"; a one-dimensional array of VARIANTs as "a;5;b;"; otherwise empty.
// Clears value.
std::string VariantToText(VARIANT* value);
