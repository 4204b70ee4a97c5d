#pragma once
// The author of an article as Vorlix shows and stores it, taken from a From header field (the
// From field of an overview line).
//
// - When the first address has a display name holding a quoted string, the author is that
//   name as the address parser reads it: quotes removed, quoted pairs unescaped, comments
//   dropped, encoded words decoded. "\"Eve \\\"the lurker\\\" Smith\" <eve@example.com>" reads
//   Eve "the lurker" Smith; "\"\" <x@example.com>" reads as an empty text.
// - Any other field is kept whole, trimmed, with its encoded words decoded:
//   "Eve Smith <eve@example.com>" and "eve@example.com (Eve)" stay as they are.
// - A field with quotes that holds no address at all (a quoted name alone, or text the parser
//   refuses) reads as the text between its first two double quotes, trimmed and decoded.
//
// Never throws; any text gives some author.
#include <QString>

QString FromFieldText(const QString& field);
