#pragma once

#include <QString>

namespace calvoro::text {

// The text without the characters XML 1.0 forbids (controls other than tab, line feed and
// carriage return, U+FFFE, U+FFFF and unpaired surrogates); the UTF-8 form also turns
// ill-formed bytes into U+FFFD.
QString removingXMLForbiddenCharacters(const QString& text);
std::string removingXMLForbiddenCharacters(const std::string& utf8);

}  // namespace calvoro::text
