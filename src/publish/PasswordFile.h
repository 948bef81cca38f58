#pragma once
#include <cstddef>
#include <string>

// The broker password of the service, from a file: --publish-password-file, or the systemd credential
// "mqtt-password" (LoadCredential=mqtt-password:/etc/velmora-logger/mqtt-password in the unit).
inline constexpr const char* PasswordCredential = "mqtt-password";
inline constexpr size_t MaxPasswordFileSize = 4096;

struct TPasswordFile {
    std::string password; // the content less one trailing newline
    std::string warning;  // for the operator: the file is readable by others than its owner
    std::string error;    // why the file cannot be used; empty when it can
};

// Reads a password file. It must be a regular file (a folder, a device or a FIFO is refused without
// reading from it) of at most MaxPasswordFileSize bytes, holding a password.
TPasswordFile ReadPasswordFile(const std::string& file);

// $CREDENTIALS_DIRECTORY/mqtt-password when the service manager passed that credential, else "".
std::string CredentialPasswordFile(const char* credentialsDirectory);
