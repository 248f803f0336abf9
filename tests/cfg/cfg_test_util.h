// Helpers shared by the configuration tests: a temporary folder per test, whole-file I/O and a
// compact dump of a document.
#pragma once

#include "qv_cfg.h"
#include "support/qvtest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace cfgtest {

namespace fs = std::filesystem;

// A fresh folder per test, named after the test for whoever looks in the temporary folder; the
// shared helper adds the process id and a random part, so that runs side by side (other builds of
// the suite on the same machine) never share one.
class TempDir : public qvtest::TempDir {
public:
    TempDir() : qvtest::TempDir(Prefix()) {}

private:
    static std::string Prefix() {
        const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("qvcfg_") + (info ? info->name() : "t");
        for (char &c : name)
            if (c == '/') c = '_';
        return name;
    }
};

inline void WriteBytes(const std::string &path, const std::string &bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), std::streamsize(bytes.size()));
}

inline std::string ReadBytes(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// The writer's line end on this platform.
inline std::string Eol() {
#ifdef _WIN32
    return "\r\n";
#else
    return "\n";
#endif
}

// `text` with every LF turned into the platform's line end.
inline std::string Native(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += Eol();
        else
            out += c;
    }
    return out;
}

// One line per record: "S name # comment", "P name = value # comment", "C # comment", with the
// parts that are empty left out, so an expectation reads like the file.
inline std::string Dump(const Quorvel::cQV_CfgFile &doc) {
    std::string out;
    for (Quorvel::cQV_CfgRecord *r = doc.GetFirst(); r; r = doc.GetNext(r)) {
        switch (r->GetType()) {
        case Quorvel::eCfgSect:
            out += "S " + std::string(r->GetName());
            break;
        case Quorvel::eCfgParam:
            out += "P " + std::string(r->GetName()) + " = " + std::string(r->GetValue());
            break;
        case Quorvel::eCfgComm:
            out += "C";
            if (r->GetName().Length() || r->GetValue().Length()) out += " !name/value!";
            break;
        default:
            out += "?";
        }
        if (r->GetComment().Length()) out += " # " + std::string(r->GetComment());
        out += "\n";
    }
    return out;
}

// Reads `text` (written to a file in `dir` as it stands) into `doc`.
inline bool ReadText(Quorvel::cQV_CfgFile &doc, const TempDir &dir, const std::string &text,
                     Quorvel::cQV_Error *errOut = nullptr) {
    std::string path = dir / "in.cfg";
    WriteBytes(path, text);
    Quorvel::cQV_Error err;
    bool ok = doc.ReadFile(err, path.c_str());
    if (errOut) *errOut = err;
    return ok;
}

} // namespace cfgtest
