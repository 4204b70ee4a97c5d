#pragma once
// Values shared by voices, engines and the engine layers: the "not set" marker of pitch, speed
// and volume values, and the names of the Windows language ids that voices carry.
#include <QString>

// A pitch, speed or volume value or limit that is not set: the engine's own value applies.
constexpr int NotSet = -9999;

// The name of a Windows language id ("US English" for 1033). An id missing from the table is
// retried as its primary language with the default sub-language ((id & 255) | 1024); a second
// miss gives an empty name.
QString GetLanguageName(int languageId);
// The same table looked up exactly, without the fallback; empty when the id is not listed.
QString LookupLanguageName(int languageId);

// A short sentence in the language of a Windows language id, spoken when the user tests a
// voice. Every language of the table has one (all its regional variants share it); any other
// id gets the English sentence.
QString GetTestSentence(int languageId);
