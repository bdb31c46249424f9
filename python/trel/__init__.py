"""trel: camera pose refinement, UPnP, the run-time configuration, calibrated
cameras and rotation conversions (the compiled module trel._trel)."""

from . import _trel
from ._trel import *  # noqa: F401,F403  (the module's public names)

__doc__ = _trel.__doc__
__version__: str = _trel.__version__
__all__ = [name for name in dir(_trel) if not name.startswith("_")]

# The classes and the error are trel's own: their reprs, help() and pickles
# name trel, not the compiled module behind it.
for _name in __all__:
    _value = getattr(_trel, _name)
    if isinstance(_value, type):
        try:
            _value.__module__ = __name__
        except (AttributeError, TypeError):
            pass
del _name, _value
