'''A small UDisks2 for the unmount tests: two file systems whose "Unmount" is logged by dbusmock
and answers as the parameters "mount_point", "other_mount_point", "unmount_error" and
"error_message" ask.'''

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


def add_block(mock, name):
    path = MAIN_OBJ + '/block_devices/' + name
    mock.AddObject(path, BLOCK_IFACE, {'Device': byte_string('/dev/' + name)}, [])
    return mockobject.objects[path]


def add_filesystem(mock, name, mount_point, error, message):
    obj = add_block(mock, name)
    points = [byte_string(mount_point)] if mount_point else []
    obj.AddProperties(FS_IFACE, {'MountPoints': dbus.Array(points, signature='ay')})
    code = f'raise dbus.exceptions.DBusException({message!r}, name={error!r})' if error else ''
    obj.AddMethod(FS_IFACE, 'Unmount', 'a{sv}', '', code)


def load(mock, parameters):
    add_block(mock, 'sda')  # no file system: the lookup must step over it
    # Unmounting this one means the lookup picked the wrong file system.
    add_filesystem(mock, 'sdc1', parameters.get('other_mount_point', ''),
                   'org.freedesktop.UDisks2.Error.Failed', 'unmounted the wrong file system')
    add_filesystem(mock, 'sdb1', parameters.get('mount_point', ''),
                   parameters.get('unmount_error', ''), parameters.get('error_message', ''))
