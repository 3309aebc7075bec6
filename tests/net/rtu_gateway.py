# SPDX-License-Identifier: GPL-3.0-or-later
"""A Modbus TCP gateway made of pymodbus alone: a TCP server whose slave contexts forward each
request over pymodbus's own RTU client to a serial line. Used by the network line tests as an
independent peer.

usage: rtu_gateway.py TCP_PORT SERIAL_PATH BAUD UNITS

Units 1..UNITS are forwarded; any other gets "no response" at once.
"""
import logging
import sys

from pymodbus.client import ModbusSerialClient
from pymodbus.datastore import ModbusServerContext
from pymodbus.datastore.remote import RemoteSlaveContext
from pymodbus.exceptions import ModbusIOException, NoSuchSlaveException
from pymodbus.server import StartTcpServer


class ForwardingContext(RemoteSlaveContext):
    """Reads and single-register writes of one unit, forwarded as they are.

    pymodbus's remote context checks a write by reading holding registers, which the analyzer
    refuses, so writes go out here in setValues. A request nothing answers becomes the gateway's
    "no response" (0x0B), as a real gateway says it.
    """

    def __init__(self, client, unit):
        super().__init__(client, unit=unit)
        self.echo = None

    def _forwarded(self, result):
        if isinstance(result, ModbusIOException):
            raise NoSuchSlaveException(f"unit {self.unit} did not answer")
        return result

    def validate(self, fc_as_hex, address, count=1):
        if fc_as_hex == 6:
            return True
        if fc_as_hex != 4:
            return False
        self.result = self._forwarded(
            self._client.read_input_registers(address, count, slave=self.unit))
        return not self.result.isError()

    def setValues(self, fc_as_hex, address, values):
        if fc_as_hex == 6:
            self.echo = self._forwarded(
                self._client.write_register(address, values[0], slave=self.unit))
            if self.echo.isError():
                raise NoSuchSlaveException(f"unit {self.unit} refused the write")

    def getValues(self, fc_as_hex, address, count=1):
        if fc_as_hex == 6:
            return [self.echo.value]
        return self.result.registers


class AbsentContext(ForwardingContext):
    """A unit the gateway has no analyzer for: "no response" at once."""

    def validate(self, fc_as_hex, address, count=1):
        raise NoSuchSlaveException(f"no unit {self.unit} behind this gateway")

    def setValues(self, fc_as_hex, address, values):
        raise NoSuchSlaveException(f"no unit {self.unit} behind this gateway")


def main():
    logging.basicConfig(level=logging.CRITICAL)
    port, path, baud, last = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    # This pymodbus takes its time-out as whole seconds; the serial port's own is set after.
    client = ModbusSerialClient(port=path, baudrate=baud, timeout=1, retries=0)
    if not client.connect():
        sys.exit(f"cannot open {path}")
    client.socket.timeout = 0.25
    # Every unit id has a context: pymodbus drops a request to one without it unanswered.
    units = {unit: (ForwardingContext if 1 <= unit <= last else AbsentContext)(client, unit)
             for unit in range(256)}
    StartTcpServer(context=ModbusServerContext(slaves=units, single=False),
                   address=("127.0.0.1", port))


if __name__ == "__main__":
    main()
