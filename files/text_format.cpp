#include "files/text.h"

namespace quorvane {

std::string JsonEscape(const std::string& utf8) {
    std::string escaped;
    escaped.reserve(utf8.size() + 8);
    for (const char byte : utf8) {
        switch (byte) {
            case '\\': escaped += "\\\\"; break;
            case '"': escaped += "\\\""; break;
            case '\n': escaped += "\\n"; break;
            case '\r': escaped += "\\r"; break;
            case '\t': escaped += "\\t"; break;
            default: escaped += byte; break;
        }
    }
    return escaped;
}

}  // namespace quorvane
