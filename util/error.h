// Exceptions shared by every module: a message a test engineer can act on.
#pragma once
#include <stdexcept>
#include <string>

namespace igxl {

// Base of every failure this system raises on purpose.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A path that names no file. Callers that may ignore a missing file catch this one only.
class FileNotFoundError : public Error {
public:
    explicit FileNotFoundError(const std::string& path)
        : Error("No such file or directory: '" + path + "'"), path_(path) {}
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Input refused as it stands (an archive past a limit, members that would overwrite each
// other): the message names the file and what was expected. Hosts exit with their bad-input
// status for it.
class BadInputError : public Error {
public:
    BadInputError(const std::string& file, const std::string& message) : Error(message), file_(file) {}
    const std::string& file() const { return file_; }

private:
    std::string file_;
};

// A row that lacks a field the reader needs (file and 1-based line named in the message).
class ShortRowError : public Error {
public:
    using Error::Error;
};

}  // namespace igxl
