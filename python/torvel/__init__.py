"""ClassAds, expressions and configuration of the Torvel library.

The compiled part is torvel._torvel; everything public is re-exported here.
"""
from torvel._torvel import (
    ClassAd,
    ConfigError,
    Error,
    ErrorType,
    Expr,
    ParseError,
    Undefined,
    UndefinedType,
    __version__,
    expand,
    load_config,
    match_all,
    param,
    param_bool,
    param_int,
    saved_debug_lines,
    version,
    where,
)

__all__ = [
    "ClassAd", "ConfigError", "Error", "ErrorType", "Expr", "ParseError",
    "Undefined", "UndefinedType", "__version__", "expand", "load_config", "match_all",
    "param", "param_bool", "param_int", "saved_debug_lines",
    "version", "where",
]
