// Runs saved inputs through a fuzz target without the fuzzer, so that the
// normal build keeps replaying the seed corpus and every input that once
// found a fault. Each argument is a file or a folder (its files, in name
// order). A target's own expectations abort the process, which fails the
// test; so does an argument that holds no input, lest a mistyped folder
// pass silently.

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        QStringList files{path};
        if (QFileInfo(path).isDir()) {
            files.clear();
            for (const QString& name : QDir(path).entryList(QDir::Files, QDir::Name))
                files << QDir(path).filePath(name);
        }
        if (files.isEmpty()) {
            std::fprintf(stderr, "no inputs in %s\n", qPrintable(path));
            return 1;
        }
        for (const QString& name : files) {
            QFile file(name);
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(name));
                return 1;
            }
            const QByteArray bytes = file.readAll();
            std::printf("%s (%d bytes)\n", qPrintable(name), int(bytes.size()));
            std::fflush(stdout); // the last name printed is the input that failed
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                   std::size_t(bytes.size()));
            ++inputs;
        }
    }
    std::printf("%d inputs replayed\n", inputs);
    return inputs > 0 ? 0 : 1;
}
