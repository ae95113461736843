// Fuzz target: the device catalogue lookup of the SFP window. The input is
// a key (up to the first line break), a child index, and then an arbitrary
// document in place of the catalogue; the lookup must answer (usually with
// nothing) for any document. Inputs whose document is empty look the key up
// in the catalogue the program embeds instead, which must name only devices
// it lists under that very id.

#include "fuzzinput.h"

#include "app/initresources.h"
#include "beamline/windowsfpstatus.h"

#include <QDomDocument>
#include <QFile>
#include <QRegularExpression>

#include <cstring>

namespace
{

// The ids of the embedded catalogue, read once with a parser of its own.
const QStringList& embeddedIds()
{
    static const QStringList ids = [] {
        QStringList list;
        QFile file(QStringLiteral(":/product_data/devices.xml"));
        FUZZ_CHECK(file.open(QIODevice::ReadOnly));
        QDomDocument document;
        FUZZ_CHECK(document.setContent(&file));
        const QDomNodeList idElements = document.elementsByTagName(QStringLiteral("id"));
        for (int i = 0; i < idElements.size(); ++i)
            list << idElements.at(i).toElement().text();
        return list;
    }();
    return ids;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    startQt();
    initResources();
    FUZZ_CHECK(!embeddedIds().isEmpty());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const QString key = in.text('\n');
    const int index = int(int8_t(in.byte())); // negative and past the end too
    const QByteArray document = in.rest();

    if (!document.isEmpty()) {
        WindowSFPstatus::catalogueField(document, key, index);
        return 0;
    }

    // The ids the slot records produce are four lowercase hex digits; a name
    // or a picture only for an id the catalogue lists.
    const QString name = WindowSFPstatus::deviceName(key);
    const QString image = WindowSFPstatus::deviceImagePath(key);
    FUZZ_CHECK(image.startsWith(QStringLiteral(":/product_data/")));
    static const QRegularExpression id(QStringLiteral("^[0-9a-f]{4}$"));
    if (id.match(key).hasMatch()) {
        const bool listed = embeddedIds().contains(key);
        FUZZ_CHECK(listed == !name.isEmpty());
        FUZZ_CHECK(listed == (image.size() > int(std::strlen(":/product_data/"))));
    }
    return 0;
}
