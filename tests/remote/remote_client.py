"""A client of the program's remote interface, for the tests.

Reads one JSON request per line on standard input and answers each with one
JSON line on standard output, so that a test drives a whole session through
one process. Runs with Debian's python3 and its control-system module.
"""

import json
import sys

import tango


def failure(error):
    first = error.args[0]
    return {"ok": False, "reason": first.reason, "desc": first.desc}


def plain(value):
    """A reply value JSON can carry."""
    if type(value).__name__ == "DevState":  # an int to JSON, a name to people
        return str(value)
    if hasattr(value, "tolist"):
        return value.tolist()
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    return value


class Session:
    def __init__(self):
        self.device = None
        self.admin = None
        self.events = []

    def connect(self, request):
        self.device = tango.DeviceProxy(request["url"])
        self.device.set_timeout_millis(request.get("timeout_ms", 5000))
        self.admin = tango.DeviceProxy(self.device.adm_name())
        return {"ok": True, "admin": self.device.adm_name()}

    def info(self, request):
        attributes = {}
        for config in self.device.attribute_list_query_ex():
            attributes[config.name] = {
                "unit": config.unit,
                "writable": config.writable != tango.AttrWriteType.READ,
                "labels": list(config.enum_labels),
            }
        return {
            "ok": True,
            "attributes": attributes,
            "commands": [c.cmd_name for c in self.device.command_list_query()],
            "admin_commands": [c.cmd_name for c in self.admin.command_list_query()],
        }

    def read(self, request):
        names = request.get("names") or list(self.device.get_attribute_list())
        values = {}
        for reply in self.device.read_attributes(names):
            values[reply.name] = {
                "value": plain(reply.value),
                "quality": str(reply.quality),
            }
        return {"ok": True, "values": values}

    def command(self, request):
        target = self.admin if request.get("admin") else self.device
        try:
            reply = target.command_inout(request["name"], *request.get("args", []))
            return {"ok": True, "value": plain(reply)}
        except tango.DevFailed as error:
            return failure(error)

    def write(self, request):
        try:
            self.device.write_attribute(request["name"], request["value"])
            return {"ok": True}
        except tango.DevFailed as error:
            return failure(error)

    def set_unit(self, request):
        try:
            config = self.device.get_attribute_config(request["name"])
            config.unit = request["unit"]
            self.device.set_attribute_config(config)
            return {"ok": True}
        except tango.DevFailed as error:
            return failure(error)

    def subscribe(self, request):
        def received(event):
            if not event.err:
                self.events.append(plain(event.attr_value.value))

        kind = request.get("kind", "CHANGE_EVENT")
        self.device.subscribe_event(request["name"], getattr(tango.EventType, kind), received)
        return {"ok": True}

    def config(self, request):
        config = self.device.get_attribute_config(request["name"])
        return {
            "ok": True,
            "format": config.format,
            "unit": config.unit,
            "max_alarm": config.alarms.max_alarm,
            "archive_abs_change": config.events.arch_event.archive_abs_change,
        }

    def database(self, request):
        """What the database holds of a device, or a property put there."""
        db = tango.Database()
        if "attribute_property" in request:
            db.put_device_attribute_property(request["device"], request["attribute_property"])
            return {"ok": True}
        info = db.get_device_info(request["device"])
        return {"ok": True, "exported": bool(info.exported), "server": info.ds_full_name}

    def events_seen(self, request):
        return {"ok": True, "events": list(self.events)}

    def read_many(self, request):
        for _ in range(request["count"]):
            self.device.read_attribute(request["name"])
        return {"ok": True}


def main():
    session = Session()
    for line in sys.stdin:
        request = json.loads(line)
        handler = getattr(session, request["op"])
        try:
            reply = handler(request)
        except tango.DevFailed as error:
            reply = failure(error)
        except Exception as error:  # reported to the test, never a hang
            reply = {"ok": False, "reason": type(error).__name__, "desc": str(error)}
        sys.stdout.write(json.dumps(reply) + "\n")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
