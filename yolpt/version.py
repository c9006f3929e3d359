"""The version of yolpt: that of the distribution that installed it, as its
metadata records it (setup.cfg declares it)."""
import importlib
import sys

DISTRIBUTION = "yol_vovoruze"
UNKNOWN = "(version unknown: the %s distribution is not installed)" % DISTRIBUTION


def installed_version() -> str:
    """The installed distribution's version, or UNKNOWN."""
    try:
        from importlib import metadata  # 3.8 on
    except ImportError:
        return _from_pkg_resources()
    try:
        return metadata.version(DISTRIBUTION)
    except metadata.PackageNotFoundError:
        return UNKNOWN


def _from_pkg_resources() -> str:
    # 3.6 and 3.7: setuptools, which pip installs beside itself, reads the metadata.
    try:
        pkg_resources = importlib.import_module("pkg_resources")
    except ImportError:
        return UNKNOWN
    try:
        return str(pkg_resources.get_distribution(DISTRIBUTION).version)
    except pkg_resources.DistributionNotFound:
        return UNKNOWN


def banner() -> str:
    return "yolpt %s (Python %s)" % (installed_version(), sys.version.split()[0])
