#pragma once
// The users of the web face: a file of "name:hash:role" lines, the hash as crypt(3) makes it
// (yescrypt "$y$…" or bcrypt "$2b$…", as `mkpasswd -m yescrypt` prints it), the role "viewer"
// (sees) or "operator" (also acts). The file is read again when it changes, so a user is added
// without a restart. A hash never leaves this class but for the check; nothing of it is logged.

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

namespace web {

enum class Role { Viewer, Operator };
QString roleName(Role r); // "viewer", "operator"

class Users {
public:
    static constexpr int kMaxLines = 10000;
    static constexpr int kMaxPassword = 1024; // bytes; bcrypt reads 72 of them

    struct User {
        QString name;
        QByteArray hash;
        Role role = Role::Viewer;
    };

    explicit Users(QString path = {}) : path_(std::move(path)) {}
    const QString& path() const { return path_; }
    // Reads the file when it changed since it was last read (or was never read). `problems`
    // gets what is wrong with it, line by line, in Bulgarian, never a hash; bad lines are left
    // out and the good ones kept. Returns true when it was read now.
    bool refresh(QStringList& problems);
    // Reads the lines of a users file (the file's own reading, for the tests).
    void parse(const QByteArray& text, QStringList& problems);
    std::optional<User> find(const QString& name) const;
    int count() const { return int(users_.size()); }

    // Whether the password gives the hash (crypt(3) of the hash's own method and salt); takes
    // as long as the method asks, so it runs away from the web thread.
    static bool verify(const QByteArray& password, const QByteArray& hash);
    // A hash of the kind the file holds, for the check of a name nobody has: the answer takes as
    // long as for a real one.
    static const QByteArray& decoy();
    // crypt(3)'s own salt for a new yescrypt hash (for the tests and for nobody else).
    static QByteArray hashFor(const QByteArray& password, const char* prefix = "$y$");

private:
    QString path_;
    QDateTime modified_;
    qint64 size_ = -1;
    bool read_ = false;
    QHash<QString, User> users_;
};

} // namespace web
