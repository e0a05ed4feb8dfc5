file(REMOVE_RECURSE
  "libtarvokey_core.a"
)
