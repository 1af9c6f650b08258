#pragma once

#include <QString>
#include <exception>

// An error that ends the running command. Its message is what the user is shown.
class Exception : public std::exception {
public:
    explicit Exception(QString message);
    const QString& Message() const { return message_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    QString message_;
    QByteArray utf8_;
};

// A text that does not convert to the number asked for.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A profile file that could not be written.
class EIniFileException : public Exception {
public:
    using Exception::Exception;
};
