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
    for (int bpm = 0; bpm < 2; ++bpm) {
        n.push_back(store.getOrient(bpm));
        n.push_back(store.getScaleX(bpm));
        n.push_back(store.getScaleY(bpm));
        n.push_back(store.getOffsetX(bpm));
        n.push_back(store.getOffsetY(bpm));
        int channels[4];
        store.getBpmChannels(&channels[0], &channels[1], &channels[2], &channels[3], bpm);
        n.insert(n.end(), channels, channels + 4);
    }
    for (int bpm = 0; bpm < 2; ++bpm) {
        double threshold;
        store.getBeamThreshold(&threshold, bpm);
        n.push_back(threshold);
    }
    int dacs[3];
    store.getBeamlineDacs(&dacs[0], &dacs[1], &dacs[2]);
    n.insert(n.end(), dacs, dacs + 3);
    for (int bpm = 0; bpm < 2; ++bpm) {
        double r[5];
        store.getRocRoi(&r[0], &r[1], &r[2], &r[3], &r[4], bpm);
        n.insert(n.end(), r, r + 5);
    }
    using PidGetter = void (ConfigStore::*)(double*, double*, double*, double*, double*, double*,
                                            double*, double*, double*, double*) const;
    for (PidGetter get : {&ConfigStore::getPidX, &ConfigStore::getPidY, &ConfigStore::getPidI0}) {
        double p[10];
        (store.*get)(&p[0], &p[1], &p[2], &p[3], &p[4], &p[5], &p[6], &p[7], &p[8], &p[9]);
        n.insert(n.end(), p, p + 10);
    }
    const RemoteSettings remote = store.getRemote();
    n.push_back(remote.enabled);
    n.push_back(remote.port);
    n.push_back(remote.controlAllowed);
    s.address = remote.address;
    s.deviceName = remote.deviceName;
    FUZZ_CHECK(int(n.size()) == kNumberCount);
    return s;
}

// Equal to the bit, except that any NaN equals any NaN.
bool same(double a, double b)
{
    if (std::isnan(a) && std::isnan(b))
        return true;
    return std::memcmp(&a, &b, sizeof a) == 0;
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
    const auto d = [&in] { return in.value<double>(); };
    const auto i = [&in] { return in.value<int32_t>(); };
    const int b = bpm * kBpmValues;
    switch (choice) {
    case 0: {
        const int v = i();
        save.write = [=](ConfigStore& s) { return s.setOrient(v, bpm); };
        save.expected = {{b + 0, v}};
        break;
    }
    case 1:
    case 2:
    case 3:
    case 4: {
        const double v = d();
        save.write = [=](ConfigStore& s) {
            switch (choice) {
            case 1:
                return s.setScaleX(bpm, v);
            case 2:
                return s.setScaleY(bpm, v);
            case 3:
                return s.setOffsetX(bpm, v);
            default:
                return s.setOffsetY(bpm, v);
            }
        };
        save.expected = {{b + choice, v}};
        break;
    }
    case 5: {
        const int c[4] = {i(), i(), i(), i()};
        save.write = [=](ConfigStore& s) { return s.setBpmChannels(c[0], c[1], c[2], c[3], bpm); };
        for (int k = 0; k < 4; ++k)
            save.expected.push_back({b + 5 + k, c[k]});
        break;
    }
    case 6: {
        const double v = d();
        save.write = [=](ConfigStore& s) { return s.setBeamThreshold(bpm, v); };
        save.expected = {{kThresholds + bpm, v}};
        break;
    }
    case 7: {
        const int c[3] = {i(), i(), i()};
        save.write = [=](ConfigStore& s) { return s.setBeamlineDacs(c[0], c[1], c[2]); };
        for (int k = 0; k < 3; ++k)
            save.expected.push_back({kDacs + k, c[k]});
        break;
    }
    case 8: {
        const double r[5] = {d(), d(), d(), d(), d()};
        save.write = [=](ConfigStore& s) { return s.setRocRoi(bpm, r[0], r[1], r[2], r[3], r[4]); };
        for (int k = 0; k < 5; ++k)
            save.expected.push_back({kRocRoi + 5 * bpm + k, r[k]});
        break;
    }
    case 9:
    case 10:
    case 11: {
        double p[10];
        for (double& v : p)
            v = d();
        const int loop = choice - 9;
        save.write = [=](ConfigStore& s) {
            auto set = loop == 0   ? &ConfigStore::setPidX
                       : loop == 1 ? &ConfigStore::setPidY
                                   : &ConfigStore::setPidI0;
            return (s.*set)(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], p[9]);
        };
        for (int k = 0; k < 10; ++k)
            save.expected.push_back({kPid + 10 * loop + k, p[k]});
        break;
    }
    case 12: {
        RemoteSettings r;
        r.enabled = in.flag();
        r.port = i();
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

    const bool saved = save.write(store);
    FUZZ_CHECK(saved); // a writable file in a writable folder
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
