#include "auth/ntlm_text.h"

std::string NtlmUpperCase(std::string_view text) {
    std::string upper(text);
    for (char& character : upper) {
        if (character >= 'a' && character <= 'z') character = character - 'a' + 'A';
    }
    return upper;
}

std::string NtlmWiden(std::string_view text) {
    std::string wide;
    wide.reserve(text.size() * 2);
    for (char character : text) {
        wide += character;
        wide += '\0';
    }
    return wide;
}
