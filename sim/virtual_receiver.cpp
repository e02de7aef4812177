// placeholder until the virtual receiver lands
