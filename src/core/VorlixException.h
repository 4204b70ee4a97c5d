#pragma once
// Errors are exceptions carrying a message. Every error class of the program derives
// from EVorlixError so one handler can catch them all.
#include <QString>
#include <exception>
#include <string>

class EVorlixError : public std::exception {
public:
    explicit EVorlixError(QString message) : Message(std::move(message)), utf8(Message.toStdString()) {}
    const char* what() const noexcept override { return utf8.c_str(); }
    const QString& message() const noexcept { return Message; }

private:
    QString Message;
    std::string utf8;
};

// Declares an error class with the given name that derives from the given base.
#define VORLIX_DECLARE_ERROR(Name, Base)                                \
    class Name : public Base {                                          \
    public:                                                             \
        using Base::Base;                                               \
    };

// A stored text that does not parse for the kind that reads it (settings, placements).
VORLIX_DECLARE_ERROR(EConvertError, EVorlixError)
