#include "plugin/settings_text.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "plugin/settings.h"

namespace settingstext {

namespace {

constexpr std::string_view utf8Signature = "\xEF\xBB\xBF";

bool isNewline(char c) { return c == '\n' || c == '\r'; }
bool isSpace(char c) { return c == ' ' || c == '\t' || isNewline(c); }

// Names compare as the settings document compares them.
bool sameName(std::string_view a, const char* b) {
    const std::string name(a);
    const CSimpleIniA::Entry::KeyOrder less;
    const CSimpleIniA::Entry left(name.c_str()), right(b);
    return !less(left, right) && !less(right, left);
}

// What the reader makes of the text, for one section and key: where the value it takes sits,
// and where that section's last entry ends.
struct Layout {
    std::size_t visibleBegin = 0;  // after a UTF-8 signature, which the reader skips
    std::size_t visibleEnd = 0;    // the reader stops here: the first NUL, or the end
    bool haveValue = false;
    std::size_t valueBegin = 0, valueEnd = 0;
    bool haveSection = false;
    std::size_t sectionEnd = 0;  // where the line of the section's last entry ends (its line end, if any)
    // A '[' whose name runs to where the reader stops would take in any line added after it,
    // across line ends: where its line starts.
    std::optional<std::size_t> openHeaderLine;
};

// Walks the text exactly as the settings format's reader does with its default options: blank
// space (line ends included) skipped, ';' and '#' lines are comments, "[name]" opens a section
// (a '[' without its ']' on the same line opens none and names no section the keys after it
// can be found in), "key = value" is an entry, and a line without '=' is passed over.
class LayoutReader {
public:
    LayoutReader(const std::string& text, const char* section, const char* key)
        : text_(text), section_(section), key_(key) {
        start_ = text.compare(0, utf8Signature.size(), utf8Signature) == 0 ? utf8Signature.size() : 0;
        const std::size_t nul = text.find('\0', start_);
        n_ = nul == std::string::npos ? text.size() : nul;
        layout_.visibleBegin = start_;
        layout_.visibleEnd = n_;
    }

    Layout read() {
        p_ = start_;
        while (p_ < n_) {
            while (p_ < n_ && isSpace(text_[p_])) ++p_;
            if (p_ == n_) break;
            if (text_[p_] == ';' || text_[p_] == '#') {
                p_ = lineEnd(p_);
            } else if (text_[p_] == '[') {
                header();
            } else {
                entry();
            }
        }
        return layout_;
    }

private:
    std::size_t lineEnd(std::size_t p) const {
        while (p < n_ && !isNewline(text_[p])) ++p;
        return p;
    }

    bool named(std::size_t begin, std::size_t end, const char* name) const {
        while (end > begin && isSpace(text_[end - 1])) --end;
        return sameName(std::string_view(text_).substr(begin, end - begin), name);
    }

    void header() {
        const std::size_t bracket = p_;
        ++p_;
        while (p_ < n_ && isSpace(text_[p_])) ++p_;
        const std::size_t nameBegin = p_;
        while (p_ < n_ && text_[p_] != ']' && !isNewline(text_[p_])) ++p_;
        if (p_ == n_) {
            std::size_t lineStart = bracket;
            while (lineStart > start_ && !isNewline(text_[lineStart - 1])) --lineStart;
            layout_.openHeaderLine = lineStart;
        }
        if (p_ == n_ || text_[p_] != ']') {
            // The reader takes the text from here to its next cut as the section's name,
            // which then holds a line end: no name we look for.
            inSection_ = false;
            return;
        }
        inSection_ = named(nameBegin, p_, section_);
        p_ = lineEnd(p_ + 1);
        if (inSection_) {
            layout_.haveSection = true;
            layout_.sectionEnd = p_;
        }
    }

    void entry() {
        const std::size_t keyBegin = p_;
        while (p_ < n_ && text_[p_] != '=' && !isNewline(text_[p_])) ++p_;
        if (p_ == n_ || text_[p_] != '=') return;
        if (p_ == keyBegin) {
            p_ = lineEnd(p_);
            return;
        }
        const std::size_t keyEnd = p_;
        ++p_;
        while (p_ < n_ && (text_[p_] == ' ' || text_[p_] == '\t')) ++p_;
        const std::size_t valueBegin = p_;
        p_ = lineEnd(p_);
        std::size_t valueEnd = p_;
        while (valueEnd > valueBegin && isSpace(text_[valueEnd - 1])) --valueEnd;
        if (inSection_) {
            layout_.sectionEnd = p_;
            if (named(keyBegin, keyEnd, key_)) {
                // A key given twice: the reader keeps the value of the last.
                layout_.haveValue = true;
                layout_.valueBegin = valueBegin;
                layout_.valueEnd = valueEnd;
            }
        }
        if (p_ < n_) p_ += text_[p_] == '\r' && p_ + 1 < n_ && text_[p_ + 1] == '\n' ? 2 : 1;
    }

    const std::string& text_;
    const char* section_;
    const char* key_;
    std::size_t start_ = 0, n_ = 0, p_ = 0;
    bool inSection_ = false;
    Layout layout_;
};

Layout layoutOf(const std::string& text, const char* section, const char* key) {
    return LayoutReader(text, section, key).read();
}

// The line end the file already uses, so added lines match the pilot's.
std::string newlineOf(const std::string& text, const char* fallback) {
    const std::size_t at = text.find_first_of("\r\n");
    if (at == std::string::npos) return fallback;
    if (text[at] == '\r') return text.compare(at, 2, "\r\n") == 0 ? "\r\n" : "\r";
    return "\n";
}

bool isBlank(std::string_view line) {
    for (const char c : line)
        if (!isSpace(c)) return false;
    return true;
}

// The lines that are not blank, as the reader splits them ("\r\n", "\n" or "\r" end one), each
// with its line end.
std::vector<std::string_view> nonBlankLinesOf(const std::string& text) {
    std::vector<std::string_view> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find_first_of("\r\n", begin);
        if (end == std::string::npos) {
            end = text.size();
        } else {
            end += text.compare(end, 2, "\r\n") == 0 ? 2 : 1;
        }
        const std::string_view line(text.data() + begin, end - begin);
        if (!isBlank(line)) lines.push_back(line);
        begin = end;
    }
    return lines;
}

}  // namespace

std::optional<std::string> withValue(const std::string& text, const char* section, const char* key,
                                     const std::string& value, const char* newline) {
    const Layout layout = layoutOf(text, section, key);
    std::string result = text;
    if (layout.haveValue) {
        result.replace(layout.valueBegin, layout.valueEnd - layout.valueBegin, value);
        return result;
    }
    const std::string nl = newlineOf(text, newline);
    const std::string entry = std::string(key) + " = " + value;
    if (layout.haveSection) {
        std::size_t at = layout.sectionEnd;
        if (at == text.size()) {
            result += nl + entry;
            return result;
        }
        // A line end of the reader's follows the entry, unless its line runs into the NUL.
        if (at == layout.visibleEnd) return std::nullopt;
        at += text.compare(at, 2, "\r\n") == 0 ? 2 : 1;
        result.insert(at, entry + nl);
        return result;
    }
    // At the end of what the reader sees, or before a '[' that would take the section in.
    const std::size_t begin = layout.visibleBegin, at = layout.openHeaderLine.value_or(layout.visibleEnd);
    const bool atLineStart = at == begin || isNewline(text[at - 1]);
    if (!atLineStart && at < text.size()) return std::nullopt;
    // A blank line between the pilot's last section and ours, as the format writes sections,
    // unless its line end would join a lone '\r' before it into one line end.
    const bool written = !isBlank(std::string_view(text).substr(begin, at - begin)) &&
                         !(atLineStart && at > begin && text[at - 1] == '\r' && nl[0] == '\n');
    std::string added = (atLineStart ? "" : nl) + (written ? nl : "") + "[" + section + "]" + nl + entry;
    if (atLineStart) added += nl;
    result.insert(at, added);
    return result;
}

bool sameNonBlankLines(const std::string& a, const std::string& b) { return nonBlankLinesOf(a) == nonBlankLinesOf(b); }

}  // namespace settingstext
