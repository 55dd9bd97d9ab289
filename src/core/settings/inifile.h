#pragma once

#include <QString>
#include <iterator>
#include <memory>
#include <vector>

namespace tarnivel {

// One meaningful line of an INI document.
class INIline {
public:
    INIline() = default;
    INIline(QString group, QString section, QString value)
        : Group(std::move(group)), Section(std::move(section)), Value(std::move(value)) {}

    // The header the line belongs to, brackets included ("[TARNIVEL]"); empty before the
    // first header.
    QString Group;
    // The key of a key line; the header text itself for a header line read from a file;
    // empty for header and blank lines built for writing.
    QString Section;
    // The value of a key line; empty for headers.
    QString Value;
};

// The lines of a document in order. Positions are 1-based; there is no lookup by key.
class INIlines {
public:
    INIlines() = default;
    INIlines(INIlines&&) noexcept = default;
    INIlines& operator=(INIlines&&) noexcept = default;
    INIlines(const INIlines& other);
    INIlines& operator=(const INIlines& other);

    INIline& Add(const QString& group, const QString& section, const QString& value);
    void Clear();
    // Throws std::out_of_range outside 1..Count().
    INIline& Item(int vntIndexKey);
    const INIline& Item(int vntIndexKey) const;
    int Count() const;
    // Later lines move up one position. Throws std::out_of_range outside 1..Count().
    void Remove(int vntIndexKey);

    // for-each over the lines in order (what NewEnum gives a script).
    template <typename Line, typename Base> class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = INIline;
        using difference_type = std::ptrdiff_t;
        using pointer = Line*;
        using reference = Line&;

        Iterator() = default;
        explicit Iterator(Base it) : it_(it) {}
        reference operator*() const { return **it_; }
        pointer operator->() const { return it_->get(); }
        Iterator& operator++() {
            ++it_;
            return *this;
        }
        Iterator operator++(int) {
            Iterator old = *this;
            ++it_;
            return old;
        }
        bool operator==(const Iterator& o) const { return it_ == o.it_; }
        bool operator!=(const Iterator& o) const { return it_ != o.it_; }

    private:
        Base it_{};
    };
    using Store = std::vector<std::unique_ptr<INIline>>;
    using iterator = Iterator<INIline, Store::iterator>;
    using const_iterator = Iterator<const INIline, Store::const_iterator>;

    iterator begin() { return iterator(lines_.begin()); }
    iterator end() { return iterator(lines_.end()); }
    const_iterator begin() const { return const_iterator(lines_.begin()); }
    const_iterator end() const { return const_iterator(lines_.end()); }

private:
    Store lines_;
};

// An INI-style text file read whole into its lines, and written back as a complete new
// file of aligned key lines.
class INIfile {
public:
    enum class LoadStatus {
        Loaded,    // the file was read (it may have held no lines)
        Missing,   // no such file: an empty document
        Unreadable // the file exists but could not be read: an empty document
    };

    tarnivel::INIlines& INIlines() { return lines_; }
    const tarnivel::INIlines& INIlines() const { return lines_; }
    void SetINIlines(tarnivel::INIlines lines) { lines_ = std::move(lines); }

    // Write every key in upper case.
    bool UcaseSection = false;
    // Spaces before each key.
    int LeadingSpaces = 3;
    // 1-based column of "=": keys are padded to EqualPos - 1 characters (never cut).
    int EqualPos = 17;

    // Replaces the lines by those of the file. Lines may end in CR LF, LF or CR, and a
    // last line without an end counts. Bytes that are valid UTF-8 are read as such,
    // anything else as Latin-1 (older single-byte files).
    LoadStatus LoadFile(const QString& Filename);
    // Writes the document as UTF-8 with CR LF line ends, replacing the file atomically:
    // when the new text cannot be written the old file stays as it was. True on success.
    bool SaveFile(const QString& Filename) const;

    // The text SaveFile writes.
    QString ToText() const;
    // Key and value of one raw line; both empty for a line that holds no key.
    static void ParseLine(const QString& line, QString& key, QString& value);

private:
    tarnivel::INIlines lines_;
};

} // namespace tarnivel
