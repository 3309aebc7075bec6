// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cal_data_file.h"

#include <QBuffer>
#include <QFile>
#include <QtEndian>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>

#include "link/cp1251.h"
#include "ui/file_io.h"

namespace zta {

namespace {

constexpr std::uint64_t kMaxTextLength = 2147483647;
constexpr qint64 kDoublesSize = 16;

// Reads fields of the file one by one and refuses any that would run past its end, so a garbled
// length never makes us allocate or read more than the file holds.
class FieldReader {
  public:
    explicit FieldReader(QIODevice& file) : file_(file), left_(file.size()) {}

    qint64 left() const { return left_; }

    bool bytes(void* out, qint64 n) {
        if (n < 0 || n > left_) return false;
        if (file_.read(static_cast<char*>(out), n) != n) return false;
        left_ -= n;
        return true;
    }

    template <typename T>
    std::optional<T> number() {
        unsigned char raw[sizeof(T)];
        if (!bytes(raw, sizeof raw)) return std::nullopt;
        return qFromLittleEndian<T>(raw);
    }

    std::optional<double> real() {
        const auto bits = number<quint64>();
        if (!bits) return std::nullopt;
        double value;
        std::memcpy(&value, &*bits, sizeof value);
        return value;
    }

    QByteArray block(qint64 n) {
        QByteArray out(static_cast<qsizetype>(n), Qt::Uninitialized);
        if (!bytes(out.data(), n)) return {};
        return out;
    }

  private:
    QIODevice& file_;
    qint64 left_;
};

// 0x98 is the one byte of Windows-1251 without a character. A name holding it still comes back
// as it was: it stands as U+0098 in memory (as the web's decoders have it) and is written back
// as the byte, where the general conversion would turn it into '?'.
constexpr char kNoCharacterByte = '\x98';
constexpr char16_t kNoCharacterStandIn = 0x0098;

QString nameFromCp1251(const QByteArray& raw) {
    QString name;
    const QList<QByteArray> parts = raw.split(kNoCharacterByte);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0) name += QChar(kNoCharacterStandIn);
        name += QString::fromStdString(
            cp1251ToUtf8(std::string_view(parts[i].constData(), parts[i].size())));
    }
    return name;
}

QByteArray nameToCp1251(const QString& name) {
    QByteArray raw;
    const QStringList parts = name.split(QChar(kNoCharacterStandIn));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0) raw += kNoCharacterByte;
        const std::string bytes = utf8ToCp1251(parts[i].toStdString());
        raw.append(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    return raw;
}

struct Length {
    std::uint64_t count = 0;
    bool wideMarker = false;
};

// One length prefix. In the outer prefix 0xFF 0xFFFE announces UTF-16 text; in the inner one
// (after that marker) 0xFFFE is an ordinary count.
std::optional<Length> readLength(FieldReader& in, bool inner) {
    const auto b = in.number<quint8>();
    if (!b) return std::nullopt;
    if (*b < 0xFF) return Length{*b, false};
    const auto w = in.number<quint16>();
    if (!w) return std::nullopt;
    if (!inner && *w == 0xFFFE) return Length{0, true};
    if (*w < 0xFFFF) return Length{*w, false};
    const auto d = in.number<quint32>();
    if (!d) return std::nullopt;
    if (*d < 0xFFFFFFFFu) return Length{*d, false};
    const auto q = in.number<quint64>();
    if (!q || *q > kMaxTextLength) return std::nullopt;
    return Length{*q, false};
}

std::optional<QString> readName(FieldReader& in) {
    auto len = readLength(in, false);
    if (!len) return std::nullopt;
    const bool wide = len->wideMarker;
    if (wide) {
        len = readLength(in, true);
        if (!len) return std::nullopt;
    }
    const std::uint64_t bytes = wide ? len->count * 2 : len->count;
    // The two doubles must still fit after the name.
    if (in.left() < kDoublesSize || bytes > static_cast<std::uint64_t>(in.left() - kDoublesSize))
        return std::nullopt;
    const QByteArray raw = in.block(static_cast<qint64>(bytes));
    if (raw.size() != static_cast<qsizetype>(bytes)) return std::nullopt;
    if (!wide) return nameFromCp1251(raw);
    QString text(static_cast<qsizetype>(len->count), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = QChar(qFromLittleEndian<quint16>(raw.constData() + 2 * i));
    // The station keeps names in Windows-1251: what that code page cannot hold becomes '?'.
    const std::string narrow = utf8ToCp1251(text.toStdString());
    return QString::fromStdString(cp1251ToUtf8(narrow));
}

void appendLength(QByteArray& out, std::uint64_t n) {
    auto put = [&out](auto value) {
        unsigned char raw[sizeof value];
        qToLittleEndian(value, raw);
        out.append(reinterpret_cast<const char*>(raw), sizeof raw);
    };
    if (n < 0xFF) {
        put(static_cast<quint8>(n));
        return;
    }
    put(static_cast<quint8>(0xFF));
    if (n < 0xFFFE) {
        put(static_cast<quint16>(n));
        return;
    }
    put(static_cast<quint16>(0xFFFF));
    if (n < 0xFFFFFFFFu) {
        put(static_cast<quint32>(n));
        return;
    }
    put(static_cast<quint32>(0xFFFFFFFFu));
    put(static_cast<quint64>(n));
}

void appendReal(QByteArray& out, double value) {
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    unsigned char raw[8];
    qToLittleEndian(bits, raw);
    out.append(reinterpret_cast<const char*>(raw), sizeof raw);
}

QString malformedWarning() {
    return QStringLiteral(
               "Файл %1 повреждён.\nИспользуются значения по умолчанию: "
               "газ \"Метан\", концентрации 4.40 и 2.70.")
        .arg(QString::fromLatin1(kCalDataFileName));
}

}  // namespace

void markCalGas(CalData& data) {
    for (int i = 0; i < kCalGasCount; ++i)
        data.gasMarks[i] = data.calGasName == QString::fromUtf8(kCalGasMenu[i].name);
}

CalReadResult readCalDataFile(const QString& path, CalData& data) {
    // A FIFO or a device under the file's name is refused before it is read: it could hang the
    // start or fill the memory. Beyond the limit nothing of a real file is needed.
    QByteArray bytes;
    if (readRegularFile(path, kCalDataReadLimit, &bytes) != ReadStatus::Read) {
        data = CalData{};
        return {CalReadStatus::Missing, {}};
    }
    return decodeCalData(bytes, data);
}

CalReadResult decodeCalData(const QByteArray& bytes, CalData& data) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return readCalData(buffer, data);
}

CalReadResult readCalData(QIODevice& file, CalData& data) {
    FieldReader in(file);
    const auto name = readName(in);
    const auto maxGas = name ? in.real() : std::nullopt;
    const auto midGas = maxGas ? in.real() : std::nullopt;
    if (!midGas || !std::isfinite(*maxGas) || !std::isfinite(*midGas)) {
        data = CalData{};
        return {CalReadStatus::Malformed, malformedWarning()};
    }
    data.calGasName = *name;
    data.maxGas = *maxGas;
    data.midGas = *midGas;
    markCalGas(data);
    return {CalReadStatus::Loaded, {}};
}

QByteArray encodeCalData(const CalData& data) {
    const QByteArray name = nameToCp1251(data.calGasName);
    QByteArray out;
    appendLength(out, static_cast<std::uint64_t>(name.size()));
    out.append(name);
    appendReal(out, data.maxGas);
    appendReal(out, data.midGas);
    return out;
}

bool writeCalDataFile(const QString& path, const CalData& data, QString* error) {
    if (!saveWholeFile(path, encodeCalData(data), error)) return false;
    // The rename is on the disk only once its folder is.
    syncFolderOf(path);
    return true;
}

}  // namespace zta
