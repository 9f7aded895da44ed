'''A small UDisks2 for the unmount tests: an object manager with two block devices, each with a
file system; "Unmount" is logged by dbusmock and answers as the parameters ask.

Parameters: "mount_point" (the file system that the test unmounts), "other_mount_point",
"unmount_error" (a D-Bus error name to answer with, or empty for success), "error_message".
'''

import dbus

from dbusmock import mockobject

BUS_NAME = 'org.freedesktop.UDisks2'
MAIN_OBJ = '/org/freedesktop/UDisks2'
MAIN_IFACE = 'org.freedesktop.UDisks2.Manager'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

BLOCK_IFACE = 'org.freedesktop.UDisks2.Block'
FS_IFACE = 'org.freedesktop.UDisks2.Filesystem'


def byte_string(text):
    '''A NUL-terminated ay, as UDisks2 sends paths.'''
    return dbus.Array([dbus.Byte(b) for b in text.encode() + b'\0'], signature='y')


def add_filesystem(mock, name, mount_point, error, message):
    path = MAIN_OBJ + '/block_devices/' + name
    mock.AddObject(path, BLOCK_IFACE, {
        'Device': byte_string('/dev/' + name),
        'IdLabel': dbus.String(name),
    }, [])
    obj = mockobject.objects[path]
    points = [byte_string(mount_point)] if mount_point else []
    obj.AddProperties(FS_IFACE, {
        'MountPoints': dbus.Array(points, signature='ay'),
        'Size': dbus.UInt64(16 * 1024 * 1024),
    })
    if error:
        code = f'raise dbus.exceptions.DBusException({message!r}, name={error!r})'
    else:
        code = ''
    obj.AddMethod(FS_IFACE, 'Unmount', 'a{sv}', '', code)


def load(mock, parameters):
    mock.AddProperty(MAIN_IFACE, 'Version', dbus.String('2.9.4'))
    # A block device without a file system, which the lookup must step over.
    mock.AddObject(MAIN_OBJ + '/block_devices/sda', BLOCK_IFACE,
                   {'Device': byte_string('/dev/sda'), 'IdLabel': dbus.String('')}, [])
    # Unmounting this one means the lookup picked the wrong file system.
    add_filesystem(mock, 'sdc1', parameters.get('other_mount_point', ''),
                   'org.freedesktop.UDisks2.Error.Failed', 'unmounted the wrong file system')
    add_filesystem(mock, 'sdb1', parameters.get('mount_point', ''),
                   parameters.get('unmount_error', ''), parameters.get('error_message', ''))
