'''A small UDisks2 for the unmount test: two file systems whose "Unmount" dbusmock logs, and
which answers as the parameters "mount_point", "other_mount_point" and "unmount_error" ask.'''

import dbus

from dbusmock import mockobject

BUS_NAME = 'org.freedesktop.UDisks2'
MAIN_OBJ = '/org/freedesktop/UDisks2'
MAIN_IFACE = 'org.freedesktop.UDisks2.Manager'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True


def add_block(mock, name, mount_point=None, error=''):
    '''A block device; with a mount point (NUL-terminated, as UDisks2 sends paths) a file system.'''
    path = MAIN_OBJ + '/block_devices/' + name
    device = dbus.Array(f'/dev/{name}'.encode() + b'\0', signature='y')
    mock.AddObject(path, 'org.freedesktop.UDisks2.Block', {'Device': device}, [])
    if mount_point is None:
        return
    points = [dbus.Array(mount_point.encode() + b'\0', signature='y')] if mount_point else []
    fs = 'org.freedesktop.UDisks2.Filesystem'
    mockobject.objects[path].AddProperties(fs, {'MountPoints': dbus.Array(points, signature='ay')})
    code = f"raise dbus.exceptions.DBusException('target is busy', name={error!r})" if error else ''
    mockobject.objects[path].AddMethod(fs, 'Unmount', 'a{sv}', '', code)


def load(mock, parameters):
    add_block(mock, 'sda')  # no file system: the lookup steps over it
    # Unmounting this one would mean the lookup picked the wrong file system.
    add_block(mock, 'sdc1', parameters.get('other_mount_point', ''),
              'org.freedesktop.UDisks2.Error.Failed')
    add_block(mock, 'sdb1', parameters.get('mount_point', ''), parameters.get('unmount_error', ''))
