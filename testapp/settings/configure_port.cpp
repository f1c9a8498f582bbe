// placeholder: replaced by its unit
