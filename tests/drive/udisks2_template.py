'''A stand-in for UDisks2 with one block device, /dev/sdb1, for the mounter's tests.

Parameters: "mount_error" (a D-Bus error name): Mount fails with it instead of
returning a mount path.
'''

import dbus

BUS_NAME = 'org.freedesktop.UDisks2'
MAIN_OBJ = '/org/freedesktop/UDisks2/Manager'
MAIN_IFACE = 'org.freedesktop.UDisks2.Manager'
SYSTEM_BUS = True

BLOCK = '/org/freedesktop/UDisks2/block_devices/sdb1'


def load(mock, parameters):
    mock.AddMethod(MAIN_IFACE, 'ResolveDevice', 'a{sv}a{sv}', 'ao',
                   'ret = [dbus.ObjectPath("%s")] if args[0].get("path") == "/dev/sdb1" else []'
                   % BLOCK)
    error = parameters.get('mount_error')
    if error:
        code = 'raise dbus.exceptions.DBusException("Not authorized to perform operation", name="%s")' % error
    else:
        code = 'ret = "/media/ann/LOGGER"'
    mock.AddObject(BLOCK, 'org.freedesktop.UDisks2.Filesystem', {},
                   [('Mount', 'a{sv}', 's', code)])
