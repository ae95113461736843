// Fuzz target: the configuration store over a file with arbitrary contents.
// The input is one setter choice, its values, and then the file's contents.
// Every key is read through every getter (twice: reading must not depend on
// anything but the file), then the chosen setter saves, and every key is
// read again: what was saved reads back as saved, and every other key reads
// as it did before the save, so a save never loses a setting it did not
// touch, however odd the rest of the file; a file with unreadable lines is
// kept, byte for byte, before the save rewrites it.

#include "fuzzinput.h"

#include "device/configstore.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

namespace
{

// Every value the getters give, in a fixed order, numbers as doubles.
struct Snapshot {
    std::vector<double> numbers;
    QString address;
    QString deviceName;
};

// Positions of the groups inside Snapshot::numbers.
constexpr int kBpmValues = 9; // orient, scale X, Y, offset X, Y, top, right, bottom, left
constexpr int kThresholds = 2 * kBpmValues;
constexpr int kDacs = kThresholds + 2;
constexpr int kRocRoi = kDacs + 3; // five per BPM
constexpr int kPid = kRocRoi + 10; // ten per loop
constexpr int kRemote = kPid + 30; // enabled, port, control allowed
constexpr int kNumberCount = kRemote + 3;

Snapshot readAll(const ConfigStore& store)
{
    Snapshot s;
    std::vector<double>& n = s.numbers;
    int c[4];
    double r[10];
    for (int bpm = 0; bpm < 2; ++bpm) {
        store.getBpmChannels(&c[0], &c[1], &c[2], &c[3], bpm);
        n.insert(n.end(), {double(store.getOrient(bpm)), store.getScaleX(bpm), store.getScaleY(bpm),
                           store.getOffsetX(bpm), store.getOffsetY(bpm), double(c[0]), double(c[1]),
                           double(c[2]), double(c[3])});
    }
    for (int bpm = 0; bpm < 2; ++bpm) {
        store.getBeamThreshold(&r[0], bpm);
        n.push_back(r[0]);
    }
    store.getBeamlineDacs(&c[0], &c[1], &c[2]);
    n.insert(n.end(), c, c + 3);
    for (int bpm = 0; bpm < 2; ++bpm) {
        store.getRocRoi(&r[0], &r[1], &r[2], &r[3], &r[4], bpm);
        n.insert(n.end(), r, r + 5);
    }
    using PidGetter = void (ConfigStore::*)(double*, double*, double*, double*, double*, double*,
                                            double*, double*, double*, double*) const;
    for (PidGetter get : {&ConfigStore::getPidX, &ConfigStore::getPidY, &ConfigStore::getPidI0}) {
        (store.*get)(&r[0], &r[1], &r[2], &r[3], &r[4], &r[5], &r[6], &r[7], &r[8], &r[9]);
        n.insert(n.end(), r, r + 10);
    }
    const RemoteSettings remote = store.getRemote();
    n.insert(n.end(), {double(remote.enabled), double(remote.port), double(remote.controlAllowed)});
    s.address = remote.address;
    s.deviceName = remote.deviceName;
    FUZZ_CHECK(int(n.size()) == kNumberCount);
    return s;
}

// Equal to the bit, except that any NaN equals any NaN.
bool same(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

bool sameSnapshot(const Snapshot& a, const Snapshot& b)
{
    for (int i = 0; i < kNumberCount; ++i) {
        if (!same(a.numbers[std::size_t(i)], b.numbers[std::size_t(i)])) {
            std::fprintf(stderr, "value %d: %.17g then %.17g\n", i, a.numbers[std::size_t(i)],
                         b.numbers[std::size_t(i)]);
            return false;
        }
    }
    return a.address == b.address && a.deviceName == b.deviceName;
}

// One save: what it writes, as the snapshot should show it afterwards.
struct Save {
    std::function<bool(ConfigStore&)> write;
    std::vector<std::pair<int, double>> expected; // snapshot position, value
    bool remoteServer = false;                    // address and device name too
    RemoteSettings remote;
};

Save chooseSave(FuzzInput& in)
{
    Save save;
    const int choice = in.byte() % 14;
    const int bpm = in.byte() & 1;
    // `n` values of type T from the input, expected at snapshot positions `at` on.
    const auto take = [&](auto type, int n, int at) {
        std::vector<double> v;
        for (int k = 0; k < n; ++k) {
            v.push_back(double(in.template value<decltype(type)>()));
            save.expected.push_back({at + k, v.back()});
        }
        return v;
    };
    const int b = bpm * kBpmValues;
    using BpmSetter = bool (ConfigStore::*)(int, double);
    using PidSetter = bool (ConfigStore::*)(double, double, double, double, double, double, double,
                                            double, double, double);
    switch (choice) {
    case 0: {
        const int v = int(take(int32_t(), 1, b)[0]);
        save.write = [=](ConfigStore& s) { return s.setOrient(v, bpm); };
        break;
    }
    case 1:
    case 2:
    case 3:
    case 4: {
        static const BpmSetter set[] = {&ConfigStore::setScaleX, &ConfigStore::setScaleY,
                                        &ConfigStore::setOffsetX, &ConfigStore::setOffsetY};
        const double v = take(double(), 1, b + choice)[0];
        save.write = [=](ConfigStore& s) { return (s.*set[choice - 1])(bpm, v); };
        break;
    }
    case 5: {
        const std::vector<double> c = take(int32_t(), 4, b + 5);
        save.write = [=](ConfigStore& s) {
            return s.setBpmChannels(int(c[0]), int(c[1]), int(c[2]), int(c[3]), bpm);
        };
        break;
    }
    case 6: {
        const double v = take(double(), 1, kThresholds + bpm)[0];
        save.write = [=](ConfigStore& s) { return s.setBeamThreshold(bpm, v); };
        break;
    }
    case 7: {
        const std::vector<double> c = take(int32_t(), 3, kDacs);
        save.write = [=](ConfigStore& s) {
            return s.setBeamlineDacs(int(c[0]), int(c[1]), int(c[2]));
        };
        break;
    }
    case 8: {
        const std::vector<double> r = take(double(), 5, kRocRoi + 5 * bpm);
        save.write = [=](ConfigStore& s) { return s.setRocRoi(bpm, r[0], r[1], r[2], r[3], r[4]); };
        break;
    }
    case 9:
    case 10:
    case 11: {
        static const PidSetter set[] = {&ConfigStore::setPidX, &ConfigStore::setPidY,
                                        &ConfigStore::setPidI0};
        const std::vector<double> p = take(double(), 10, kPid + 10 * (choice - 9));
        save.write = [=](ConfigStore& s) {
            return (s.*set[choice - 9])(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], p[9]);
        };
        break;
    }
    case 12: {
        RemoteSettings r;
        r.enabled = in.flag();
        r.port = in.value<int32_t>();
        r.address = in.text();
        r.deviceName = in.text();
        save.write = [=](ConfigStore& s) { return s.setRemoteServer(r); };
        save.expected = {{kRemote, r.enabled}, {kRemote + 1, r.port}};
        save.remoteServer = true;
        save.remote = r;
        break;
    }
    default: {
        const bool allowed = in.flag();
        save.write = [=](ConfigStore& s) { return s.setRemoteControlAllowed(allowed); };
        save.expected = {{kRemote + 2, allowed}};
        break;
    }
    }
    return save;
}

// Removed when the process ends normally; a crashed run leaves it behind
// with the file that made it crash.
QTemporaryDir* scratch = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    startQt();
    static QTemporaryDir dir(scratchFolderTemplate());
    FUZZ_CHECK(dir.isValid());
    scratch = &dir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    Save save = chooseSave(in);

    const QString path = scratch->filePath(QStringLiteral("config.ini"));
    const QByteArray contents = in.rest();
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(contents) == contents.size() && file.flush());
        // Qt takes a file of the same size and modification time (to the
        // millisecond) as the one it parsed last for unchanged. Inputs come
        // faster than that: each gets a time of its own, long past, so that
        // every input is parsed as written, whatever the machine's speed.
        static qint64 inputNumber = 0;
        FUZZ_CHECK(file.setFileTime(QDateTime::fromSecsSinceEpoch(1000000000 + ++inputNumber),
                                    QFileDevice::FileModificationTime));
    }

    ConfigStore store(path);
    const Snapshot before = readAll(store);
    FUZZ_CHECK(sameSnapshot(before, readAll(store)));
    const bool damaged = store.isDamaged();
    const QString copy = path + QStringLiteral(".damaged");
    QFile::remove(copy); // the last input's
    FUZZ_CHECK(store.damagedCopyPath() == copy);

    FUZZ_CHECK(save.write(store)); // a writable file in a writable folder
    // A damaged file is kept as it was before the save rewrote it.
    QFile kept(copy);
    FUZZ_CHECK(kept.exists() == damaged);
    FUZZ_CHECK(!damaged || (kept.open(QIODevice::ReadOnly) && kept.readAll() == contents));
    Snapshot expected = before;
    for (const auto& [position, value] : save.expected)
        expected.numbers[std::size_t(position)] = value;
    if (save.remoteServer) {
        expected.address = save.remote.address.trimmed();
        expected.deviceName = save.remote.deviceName.trimmed();
    }
    FUZZ_CHECK(sameSnapshot(expected, readAll(store)));
    return 0;
}
