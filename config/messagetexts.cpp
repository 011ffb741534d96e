#include "messagetexts.h"

std::string builtInMessage(const std::string &text, const std::vector<std::string> &arguments)
{
    std::string message;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t number = i + 1 < text.size() ? std::size_t(text[i + 1] - '0') : 0;
        if (byte == '%' && number >= 1 && number <= arguments.size()) {
            message += arguments[number - 1];
            ++i;
        } else if (byte < 0x80) {
            message += char(byte);
        } else { // Latin-1 in UTF-8
            message += char(0xC0 | (byte >> 6));
            message += char(0x80 | (byte & 0x3F));
        }
    }
    return message;
}
