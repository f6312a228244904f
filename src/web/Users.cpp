#include "Users.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <crypt.h>
#include <memory>

namespace web {

QString roleName(Role r) {
    return r == Role::Operator ? QStringLiteral("operator") : QStringLiteral("viewer");
}

namespace {
bool knownMethod(const QByteArray& hash) {
    return hash.startsWith("$y$") || hash.startsWith("$2b$") || hash.startsWith("$2y$") || hash.startsWith("$2a$");
}

// Compares in a time that does not tell where two texts differ.
bool sameBytes(const char* a, const QByteArray& b) {
    const size_t n = qstrlen(a);
    if (n != size_t(b.size()))
        return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < n; ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[qsizetype(i)]);
    return diff == 0;
}
} // namespace

bool Users::refresh(QStringList& problems) {
    const QFileInfo info(path_);
    if (!info.exists()) {
        if (!read_ || size_ != -1)
            problems.append(QStringLiteral("Файлът с потребители %1 не съществува: никой не може да влезе.").arg(path_));
        users_.clear();
        read_ = true;
        size_ = -1;
        return true;
    }
    if (read_ && info.lastModified() == modified_ && info.size() == size_)
        return false;
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly)) {
        problems.append(QStringLiteral("Файлът с потребители %1 не може да се прочете: %2.").arg(path_, f.errorString()));
        users_.clear();
    } else {
        if (info.permissions() & QFileDevice::ReadOther)
            problems.append(QStringLiteral("Файлът с потребители %1 може да се чете от всички: "
                                           "оставете го само за услугата (chmod 640).")
                                .arg(path_));
        parse(f.read(qint64(kMaxLines) * 256), problems);
    }
    modified_ = info.lastModified();
    size_ = info.size();
    read_ = true;
    return true;
}

void Users::parse(const QByteArray& text, QStringList& problems) {
    static const QRegularExpression kName(QStringLiteral("^[A-Za-z0-9._@-]{1,64}$"));
    users_.clear();
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size() && i < kMaxLines; ++i) {
        const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
        if (line.trimmed().isEmpty() || line.startsWith('#'))
            continue;
        const QString where = QStringLiteral("Файлът с потребители, ред %1: ").arg(i + 1);
        // The hash holds no colon: the name is before the first one, the role after the last.
        const qsizetype first = line.indexOf(':'), last = line.lastIndexOf(':');
        if (first < 0 || last == first) {
            problems.append(where + QStringLiteral("трябва да е име:хеш:роля."));
            continue;
        }
        User u;
        u.name = QString::fromUtf8(line.left(first));
        u.hash = line.mid(first + 1, last - first - 1);
        const QByteArray role = line.mid(last + 1).trimmed();
        if (!kName.match(u.name).hasMatch()) {
            problems.append(where + QStringLiteral("името може да съдържа само латински букви, цифри и . _ @ - "
                                                   "(до 64 знака)."));
            continue;
        }
        if (!knownMethod(u.hash)) {
            problems.append(where + QStringLiteral("хешът на „%1“ трябва да е yescrypt ($y$…) или bcrypt ($2b$…), "
                                                   "направен с mkpasswd.")
                                        .arg(u.name));
            continue;
        }
        if (role == "operator") {
            u.role = Role::Operator;
        } else if (role != "viewer") {
            problems.append(where + QStringLiteral("ролята на „%1“ трябва да е viewer или operator.").arg(u.name));
            continue;
        }
        if (users_.contains(u.name)) {
            problems.append(where + QStringLiteral("„%1“ вече е в списъка; важи първият ред.").arg(u.name));
            continue;
        }
        users_.insert(u.name, u);
    }
}

std::optional<Users::User> Users::find(const QString& name) const {
    const auto it = users_.constFind(name);
    if (it == users_.constEnd())
        return std::nullopt;
    return *it;
}

bool Users::verify(const QByteArray& password, const QByteArray& hash) {
    if (password.size() > kMaxPassword || password.contains('\0') || !knownMethod(hash))
        return false;
    auto data = std::make_unique<crypt_data>();
    const char* out = crypt_rn(password.constData(), hash.constData(), data.get(), int(sizeof(crypt_data)));
    const bool ok = out && out[0] != '*' && sameBytes(out, hash);
    explicit_bzero(data.get(), sizeof(crypt_data));
    return ok;
}

QByteArray Users::hashFor(const QByteArray& password, const char* prefix) {
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn(prefix, 0, nullptr, 0, salt, int(sizeof salt)))
        return {};
    auto data = std::make_unique<crypt_data>();
    const char* out = crypt_rn(password.constData(), salt, data.get(), int(sizeof(crypt_data)));
    return out && out[0] != '*' ? QByteArray(out) : QByteArray();
}

const QByteArray& Users::decoy() {
    static const QByteArray hash = hashFor("decoy");
    return hash;
}

} // namespace web
