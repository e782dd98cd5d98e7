#include "data/settings_store.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <vector>

namespace tarvelo::data {

namespace {

const QByteArray kBom("\xEF\xBB\xBF");

// One line of the file as it stands, its line end kept apart so that untouched lines are written
// back byte for byte.
struct Line {
    QByteArray text;
    QByteArray end;  // "\n", "\r\n" or empty for a last line without one
};

std::vector<Line> splitLines(const QByteArray& bytes)
{
    std::vector<Line> lines;
    qsizetype at = 0;
    while (at < bytes.size()) {
        const qsizetype nl = bytes.indexOf('\n', at);
        Line line;
        if (nl < 0) {
            line.text = bytes.mid(at);
            at = bytes.size();
        } else {
            line.text = bytes.mid(at, nl - at);
            line.end = "\n";
            at = nl + 1;
        }
        if (line.text.endsWith('\r')) {
            line.text.chop(1);
            line.end.prepend('\r');
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

QByteArray trimmedBlanks(const QByteArray& s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

// The section a "[name]" line opens, or a null array for any other line.
QByteArray sectionOf(const QByteArray& text)
{
    const QByteArray t = trimmedBlanks(text);
    if (t.size() < 2 || !t.startsWith('[') || !t.endsWith(']'))
        return {};
    return trimmedBlanks(t.mid(1, t.size() - 2));
}

bool isComment(const QByteArray& text)
{
    const QByteArray t = trimmedBlanks(text);
    return t.startsWith(';') || t.startsWith('#');
}

// Position of the '=' of a "key=value" line of `key`, or -1.
qsizetype keyLine(const QByteArray& text, const QByteArray& key)
{
    if (isComment(text))
        return -1;
    const qsizetype eq = text.indexOf('=');
    if (eq < 0 || trimmedBlanks(text.left(eq)) != key)
        return -1;
    return eq;
}

struct Parsed {
    bool bom = false;
    std::vector<Line> lines;
};

Parsed load(const QString& path)
{
    Parsed p;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return p;
    QByteArray bytes = f.readAll();
    if (bytes.startsWith(kBom)) {
        p.bom = true;
        bytes.remove(0, kBom.size());
    }
    p.lines = splitLines(bytes);
    return p;
}

// The line of `key` in `section`: index and the position of its '=', or index -1.
std::pair<qsizetype, qsizetype> find(const std::vector<Line>& lines, const QByteArray& section, const QByteArray& key)
{
    bool inSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const QByteArray s = sectionOf(lines[i].text);
        if (!s.isNull()) {
            inSection = s == section;
            continue;
        }
        if (!inSection)
            continue;
        const qsizetype eq = keyLine(lines[i].text, key);
        if (eq >= 0)
            return {qsizetype(i), eq};
    }
    return {-1, -1};
}

bool holdsLineBreak(const QString& s)
{
    return s.contains(u'\n') || s.contains(u'\r');
}

// A name that would read back as something else: empty, blanks at its ends, or one that ends a
// key, opens a section or starts a comment.
bool usableName(const QString& name, bool isKey)
{
    if (name.isEmpty() || holdsLineBreak(name) || name.trimmed() != name)
        return false;
    if (isKey)
        return !name.contains(u'=') && !name.startsWith(u'[') && !name.startsWith(u';') && !name.startsWith(u'#');
    return !name.contains(u']');
}

}  // namespace

IniSettingsStore::IniSettingsStore(QString baseDir) : base_(std::move(baseDir)) {}

QString IniSettingsStore::defaultBaseDir()
{
    QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty())
        return xdg;
    return QDir::homePath() + "/.config";
}

QString IniSettingsStore::filePath(const QString& application) const
{
    return base_ + u'/' + application + "/settings.ini";
}

QString IniSettingsStore::read(const QString& application, const QString& section, const QString& key) const
{
    const Parsed p = load(filePath(application));
    const auto [index, eq] = find(p.lines, section.toUtf8(), key.toUtf8());
    if (index < 0)
        return {};
    return QString::fromUtf8(p.lines[size_t(index)].text.mid(eq + 1));
}

bool IniSettingsStore::write(const QString& application, const QString& section, const QString& key,
                             const QString& value)
{
    if (!usableName(section, false) || !usableName(key, true) || holdsLineBreak(value))
        return false;
    const QString path = filePath(application);
    Parsed p = load(path);
    const QByteArray sectionBytes = section.toUtf8();
    const QByteArray keyBytes = key.toUtf8();
    const QByteArray valueBytes = value.toUtf8();

    // New lines follow the file's own line ends, so a file from another system stays consistent.
    QByteArray newline = "\n";
    for (const Line& l : p.lines)
        if (!l.end.isEmpty()) {
            newline = l.end;
            break;
        }

    const auto [index, eq] = find(p.lines, sectionBytes, keyBytes);
    if (index >= 0) {
        Line& l = p.lines[size_t(index)];
        l.text = l.text.left(eq + 1) + valueBytes;
    } else {
        Line added{keyBytes + '=' + valueBytes, newline};
        // After the last key of the section's first block, ahead of the blank lines that part it
        // from the next one.
        qsizetype insertAt = -1;
        for (size_t i = 0; i < p.lines.size(); ++i) {
            if (sectionOf(p.lines[i].text) != sectionBytes)
                continue;
            insertAt = qsizetype(i) + 1;
            for (size_t j = i + 1; j < p.lines.size() && sectionOf(p.lines[j].text).isNull(); ++j)
                if (!trimmedBlanks(p.lines[j].text).isEmpty())
                    insertAt = qsizetype(j) + 1;
            break;
        }
        if (insertAt >= 0) {
            if (p.lines[size_t(insertAt) - 1].end.isEmpty())
                p.lines[size_t(insertAt) - 1].end = newline;
            p.lines.insert(p.lines.begin() + insertAt, added);
        } else {
            if (!p.lines.empty()) {
                if (p.lines.back().end.isEmpty())
                    p.lines.back().end = newline;
                if (!trimmedBlanks(p.lines.back().text).isEmpty())
                    p.lines.push_back({{}, newline});
            }
            p.lines.push_back({'[' + sectionBytes + ']', newline});
            p.lines.push_back(added);
        }
    }

    if (!QDir().mkpath(base_ + u'/' + application))
        return false;
    const bool existed = QFile::exists(path);
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    if (!existed && !out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    QByteArray bytes = p.bom ? kBom : QByteArray();
    for (const Line& l : p.lines)
        bytes += l.text + l.end;
    if (out.write(bytes) != bytes.size())
        return false;
    return out.commit();
}

}  // namespace tarvelo::data
