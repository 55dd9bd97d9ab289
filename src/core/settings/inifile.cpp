#include "core/settings/inifile.h"

#include "core/units/positionunits.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <algorithm>
#include <optional>
#include <stdexcept>

namespace tarnivel {

namespace {

// Layout values beyond this would only build absurd lines (or exhaust memory).
constexpr int kMaxLayoutColumn = 4096;

// A line break inside a key or value (a name pasted with one) would split its line and
// turn the rest into lines of their own; read back, a blank stands where it stood.
QString OneLine(QString s) {
    for (QChar& c : s) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            c = QLatin1Char(' ');
    }
    return s;
}

// A UTF-16 file cut or edited by hand may hold half of a surrogate pair. The decoder keeps
// it, but it has no UTF-8 form: saved, it would come back as "?". The replacement
// character says the same and reads back as itself.
QString WholeCharacters(QString s) {
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s.at(i).isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate())
            ++i;
        else if (s.at(i).isSurrogate())
            s[i] = QChar::ReplacementCharacter;
    }
    return s;
}

QString DecodeText(const QByteArray& bytes) {
    // A file saved as "Unicode" by a Windows editor: UTF-16 or UTF-32 behind its mark.
    const std::optional<QStringConverter::Encoding> marked =
        QStringConverter::encodingForData(bytes);
    if (marked && *marked != QStringConverter::Utf8) {
        QStringDecoder wide(*marked);
        const QString text = wide(bytes);
        if (!wide.hasError())
            return WholeCharacters(text);
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    // Files written before names could hold any letter were single-byte; Latin-1 keeps
    // every byte as the character it most likely was. An editor may have put a UTF-8 mark
    // in front of such a file: kept, it would hide the first header.
    static const QByteArray utf8Mark = QByteArrayLiteral("\xEF\xBB\xBF");
    if (bytes.startsWith(utf8Mark))
        return QString::fromLatin1(QByteArrayView(bytes).sliced(utf8Mark.size()));
    return QString::fromLatin1(bytes);
}

} // namespace

INIlines::INIlines(const INIlines& other) {
    lines_.reserve(other.lines_.size());
    for (const auto& line : other.lines_)
        lines_.push_back(std::make_unique<INIline>(*line));
}

INIlines& INIlines::operator=(const INIlines& other) {
    if (this != &other) {
        INIlines copy(other);
        *this = std::move(copy);
    }
    return *this;
}

INIline& INIlines::Add(const QString& group, const QString& section, const QString& value) {
    lines_.push_back(std::make_unique<INIline>(group, section, value));
    return *lines_.back();
}

void INIlines::Clear() {
    Store().swap(lines_);
}

INIline& INIlines::Item(int vntIndexKey) {
    if (vntIndexKey < 1 || vntIndexKey > Count())
        throw std::out_of_range("INIlines::Item: no line at that position");
    return *lines_[static_cast<std::size_t>(vntIndexKey - 1)];
}

const INIline& INIlines::Item(int vntIndexKey) const {
    if (vntIndexKey < 1 || vntIndexKey > Count())
        throw std::out_of_range("INIlines::Item: no line at that position");
    return *lines_[static_cast<std::size_t>(vntIndexKey - 1)];
}

int INIlines::Count() const {
    return static_cast<int>(lines_.size());
}

void INIlines::Remove(int vntIndexKey) {
    if (vntIndexKey < 1 || vntIndexKey > Count())
        throw std::out_of_range("INIlines::Remove: no line at that position");
    lines_.erase(lines_.begin() + (vntIndexKey - 1));
}

void INIfile::ParseLine(const QString& line, QString& key, QString& value) {
    key.clear();
    value.clear();
    // CR, LF and TAB count as spaces. A settings file may hold many lines, so the common
    // line without them is split in place, without a copy.
    QString text = line;
    for (const char16_t *p = QStringView(line).utf16(), *e = p + line.size(); p != e; ++p) {
        if (*p == u'\t' || *p == u'\r' || *p == u'\n') {
            for (QChar& c : text) {
                if (c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
                    c = QLatin1Char(' ');
            }
            break;
        }
    }
    const char16_t* p = QStringView(text).utf16();
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && p[start] == u' ')
        ++start;
    while (end > start && p[end - 1] == u' ')
        --end;
    if (start == end)
        return;
    if (p[start] == u'[') {
        key = text.mid(start, end - start).toUpper();
        return;
    }
    qsizetype eq = start;
    while (eq < end && p[eq] != u'=')
        ++eq;
    if (eq == end)
        return;
    qsizetype keyEnd = eq;
    while (keyEnd > start && p[keyEnd - 1] == u' ')
        --keyEnd;
    qsizetype valueStart = eq + 1;
    while (valueStart < end && p[valueStart] == u' ')
        ++valueStart;
    key = text.mid(start, keyEnd - start).toUpper();
    value = text.mid(valueStart, end - valueStart);
}

INIfile::LoadStatus INIfile::LoadFile(const QString& Filename) {
    lines_.Clear();
    const QFileInfo info(Filename);
    if (!info.exists())
        return LoadStatus::Missing;
    if (info.isDir())
        return LoadStatus::Unreadable;
    QFile file(Filename);
    if (!file.open(QIODevice::ReadOnly))
        return LoadStatus::Unreadable;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return LoadStatus::Unreadable;
    file.close();

    const QString text = DecodeText(bytes);
    QString group;
    QString key;
    QString value;
    auto take = [&](qsizetype from, qsizetype to) {
        ParseLine(text.mid(from, to - from), key, value);
        if (key.isEmpty())
            return;
        if (key.startsWith(QLatin1Char('[')))
            group = key;
        lines_.Add(group, key, value);
    };
    const char16_t* p = QStringView(text).utf16();
    const qsizetype size = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < size; ++i) {
        if (p[i] == u'\r' || p[i] == u'\n') {
            take(start, i);
            if (p[i] == u'\r' && i + 1 < size && p[i + 1] == u'\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < size)
        take(start, size);
    return LoadStatus::Loaded;
}

QString INIfile::ToText() const {
    const int leading = std::clamp(LeadingSpaces, 0, kMaxLayoutColumn);
    const int keyWidth = std::clamp(EqualPos - 1, 0, kMaxLayoutColumn);
    QString text;
    for (const INIline& line : lines_) {
        const QString g = TrimSpaces(OneLine(line.Group)).toUpper();
        QString k = TrimSpaces(OneLine(line.Section));
        const QString v = TrimSpaces(OneLine(line.Value));
        if (g.isEmpty() && k.isEmpty() && v.isEmpty()) {
            // blank line
        } else if (k.isEmpty()) {
            text += g;
        } else {
            if (UcaseSection)
                k = k.toUpper();
            text += (QString(leading, QLatin1Char(' ')) + k)
                        .leftJustified(keyWidth, QLatin1Char(' '), false);
            if (v.isEmpty())
                text += QLatin1Char('=');
            else
                text += QStringLiteral("= ") + v;
        }
        text += QStringLiteral("\r\n");
    }
    return text;
}

bool INIfile::SaveFile(const QString& Filename) const {
    QSaveFile file(Filename);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = ToText().toUtf8();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace tarnivel
