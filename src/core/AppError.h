#pragma once
// The one error type raised by handlers and the file layer; its text is shown to the operator.

#include <QString>
#include <exception>

class AppError : public std::exception {
public:
    explicit AppError(QString text) : text_(std::move(text)), utf8_(text_.toUtf8()) {}
    const QString& text() const noexcept { return text_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    QString text_;
    QByteArray utf8_;
};

// A file that cannot be opened, read, created or written.
class FileError : public AppError {
public:
    using AppError::AppError;
};
